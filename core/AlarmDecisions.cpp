#include "core/AlarmDecisions.h"

#include "core/Battery.h"
#include "core/CommLossTracker.h"
#include "core/StateCode.h"

#include <utility>

namespace {
bool inAlarm(int state)
{
    return state == StateCode::Warning || state == StateCode::Emergency;
}
} // namespace

AlarmDecisions::AlarmDecisions(const QList<QList<Battery*>>& rows, CommLossTracker& commLoss,
                               AlarmSwitches switches, std::function<bool()> playing)
    : rows(rows), commLoss(commLoss), switches(switches), playing(std::move(playing))
{
}

int AlarmDecisions::sourceOf(const Battery* battery, bool modbus)
{
    return modbus ? battery->groupNumber() : battery->msdIndex();
}

template <typename Predicate> bool AlarmDecisions::anyBattery(Predicate predicate) const
{
    for (const QList<Battery*>& row : rows)
        for (const Battery* battery : row)
            if (predicate(battery))
                return true;
    return false;
}

AlarmOutcome AlarmDecisions::followUp(Battery* battery) const
{
    AlarmOutcome outcome;
    if (battery->voltState() == StateCode::Normal && battery->prevVoltState() == StateCode::Normal &&
        battery->tempState() == StateCode::Normal && battery->prevTempState() == StateCode::Normal)
        return outcome;
    journal(battery, false, outcome);
    if (battery->isConfirmed())
        return outcome;
    if (switches.emergency && battery->state() == StateCode::Emergency)
        outcome.sounds.push_back(AlarmOutcome::Sound::Crash);
    else if (switches.warning && battery->state() == StateCode::Warning) {
        if (!unconfirmedEmergency())
            outcome.sounds.push_back(AlarmOutcome::Sound::Warning);
    } else
        stopIfSilent(outcome);
    return outcome;
}

void AlarmDecisions::evaluationPass(const CarryOut& carryOut) const
{
    for (const QList<Battery*>& row : rows) {
        for (Battery* battery : row) {
            if (battery->hasNoData())
                continue;
            battery->updateState();
            if (battery->groupNumber() != 0)
                carryOut(followUp(battery));
        }
    }
}

bool AlarmDecisions::nativeCommStep(const bool answered[], bool lineLost, const CarryOut& carryOut)
{
    bool changed = false;
    for (int m = 0; m < commLoss.sourceCount() && m < rows.size(); ++m) {
        bool grouped = false;
        for (const Battery* battery : rows.at(m))
            grouped = grouped || (battery->groupNumber() >= 1 && battery->groupNumber() <= 6);
        // A module that no longer holds a grouped battery drops its loss: the look changes.
        if (commLoss.isLost(m) && !grouped)
            changed = true;
        commLoss.setWatched(m, grouped);
        const auto change = lineLost ? commLoss.markLost(m) : commLoss.sweep(m, answered[m]);
        if (change == CommLossTracker::Change::Lost)
            carryOut(lost(m));
        else if (change == CommLossTracker::Change::Restored)
            carryOut(restored(m));
        changed = changed || change != CommLossTracker::Change::None;
    }
    return changed;
}

AlarmOutcome AlarmDecisions::lost(int source)
{
    // Judged afresh when the data returns: an alarm still there then begins again.
    for (const QList<Battery*>& row : rows)
        for (Battery* battery : row)
            if (sourceOf(battery, switches.modbus) == source) {
                battery->reset();
                battery->setNoData(true);
            }
    AlarmOutcome outcome;
    if (switches.commLoss) {
        outcome.commEvents.push_back({source, true, false});
        if (switches.warning && !unconfirmedEmergency()) {
            outcome.sounds.push_back(AlarmOutcome::Sound::Warning);
            return outcome;
        }
    }
    // The alarms of the batteries that were reset may have been all that sounded.
    stopIfSilent(outcome);
    return outcome;
}

AlarmOutcome AlarmDecisions::restored(int source) const
{
    AlarmOutcome outcome;
    if (!switches.commLoss)
        return outcome;
    outcome.commEvents.push_back({source, false, false});
    stopIfSilent(outcome);
    return outcome;
}

AlarmOutcome AlarmDecisions::confirmAll()
{
    AlarmOutcome outcome;
    for (const QList<Battery*>& row : rows) {
        for (Battery* battery : row) {
            if ((inAlarm(battery->voltState()) || inAlarm(battery->tempState())) && !battery->isConfirmed() &&
                battery->groupNumber() != 0)
                journal(battery, true, outcome);
            battery->setConfirmed(true);
        }
    }
    const std::vector<int> confirmed = commLoss.confirmAll();
    if (switches.commLoss)
        for (int source : confirmed)
            outcome.commEvents.push_back({source, true, true});
    outcome.commLookChanged = !confirmed.empty();
    outcome.sounds.push_back(AlarmOutcome::Sound::Stop);
    return outcome;
}

void AlarmDecisions::journal(Battery* battery, bool confirming, AlarmOutcome& outcome) const
{
    const int pV = battery->prevVoltState(), V = battery->voltState();
    if ((inAlarm(pV) || inAlarm(V)) && (V != pV || confirming))
        outcome.batteryEvents.push_back({battery, V >= pV, confirming});
    const int pT = battery->prevTempState(), T = battery->tempState();
    if ((inAlarm(pT) || inAlarm(T)) && (T != pT || confirming))
        outcome.batteryEvents.push_back({battery, T >= pT, confirming});
}

void AlarmDecisions::stopIfSilent(AlarmOutcome& outcome) const
{
    if (playing() && !anythingSounding())
        outcome.sounds.push_back(AlarmOutcome::Sound::Stop);
}

bool AlarmDecisions::unconfirmedEmergency() const
{
    // An unconfirmed voltage emergency keeps the emergency sound.
    return switches.emergency && anyBattery([](const Battery* b) {
               return b->voltState() == StateCode::Emergency && !b->isConfirmed() && b->groupNumber() != 0;
           });
}

bool AlarmDecisions::anythingSounding() const
{
    if (switches.warning && switches.commLoss && commLoss.anyUnconfirmed())
        return true;
    return anyBattery([&](const Battery* b) {
        if (b->groupNumber() == 0 || b->isConfirmed())
            return false;
        return (b->state() == StateCode::Emergency && switches.emergency) ||
               (b->state() == StateCode::Warning && switches.warning);
    });
}
