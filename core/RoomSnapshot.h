#pragma once

#include "core/RoomSummary.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QtNumeric>

#include <array>

class Battery;
class BatteryGroup;
class CommLossTracker;

// A plain copy of what one sweep shows, taken on the GUI thread and handed to the threads
// that publish the room: the batteries (index МСД * 8 + МКП), the groups 1..6, the summary
// and the time.
struct RoomSnapshot
{
    static constexpr int batteryCount = 128;
    static constexpr int groupCount = 6;

    struct BatteryEntry
    {
        double voltage = qQNaN(); // NaN: no data
        double temperature = qQNaN();
        int state = 0;
        int voltState = 0;
        int tempState = 0;
        int group = 0; // 0: in no group
        bool confirmed = false;
        bool noData = true;
        bool commLost = false;
        QString limit; // "U>", "U<", "T>", "T<", or empty
    };
    struct GroupEntry
    {
        double meanVoltage = qQNaN(); // NaN: no member has data
        double meanTemperature = qQNaN();
        int members = 0;
        int withData = 0;
    };

    std::array<BatteryEntry, batteryCount> batteries;
    std::array<GroupEntry, groupCount> groups; // group g at g - 1
    RoomSummary summary;
    QDateTime time;
    quint32 sequence = 0; // sweeps handed over since the start, for a reader's heartbeat

    // From the window's rows and groups; a battery's communication is lost when its source
    // (module, or the group's device in Modbus mode) is lost in `commLoss`. The summary's
    // counts are of grouped batteries.
    static RoomSnapshot take(const QList<QList<Battery*>>& rows, const QList<BatteryGroup*>& groups,
                             const CommLossTracker& commLoss, bool polling, bool modbusMode,
                             const QDateTime& time);
};

Q_DECLARE_METATYPE(RoomSnapshot)
