#pragma once

#include "core/AlarmOutcome.h"

#include <QList>
#include <functional>

class CommLossTracker;

// The settings' sound switches, and whether sources are Modbus groups rather than modules.
struct AlarmSwitches
{
    bool warning = false;
    bool emergency = false;
    bool commLoss = false;
    bool modbus = false;
};

// Which journal events and sounds follow the batteries' states, the communication losses and
// the operator's confirmation, judged over the whole installation. The window carries them out.
class AlarmDecisions
{
public:
    using CarryOut = std::function<void(const AlarmOutcome&)>;

    // playing is asked at each decision: an outcome carried out may have started or stopped a sound.
    AlarmDecisions(const QList<QList<Battery*>>& rows, CommLossTracker& commLoss, AlarmSwitches switches,
                   std::function<bool()> playing);

    static int sourceOf(const Battery* battery, bool modbus);

    // After a battery's state was updated: the events of its changed states and the sound.
    AlarmOutcome followUp(Battery* battery) const;
    // Every battery with data judged, each grouped one's outcome carried out before the next.
    void evaluationPass(const CarryOut& carryOut) const;
    // One native sweep's answers (none at all when the line is lost), each loss or return carried
    // out at once; answers whether the loss look changed.
    bool nativeCommStep(const bool answered[], bool lineLost, const CarryOut& carryOut);
    // The source's batteries are reset and without data: judged afresh when the data returns.
    AlarmOutcome lost(int source);
    AlarmOutcome restored(int source) const;
    // Confirms every alarm and loss: the events of those not confirmed yet, and silence.
    AlarmOutcome confirmAll();

private:
    void journal(Battery* battery, bool confirming, AlarmOutcome& outcome) const;
    // Stops a sound that nothing asks for any more.
    void stopIfSilent(AlarmOutcome& outcome) const;
    bool unconfirmedEmergency() const;
    bool anythingSounding() const;
    template <typename Predicate> bool anyBattery(Predicate predicate) const;

    const QList<QList<Battery*>>& rows;
    CommLossTracker& commLoss;
    AlarmSwitches switches;
    std::function<bool()> playing;
};
