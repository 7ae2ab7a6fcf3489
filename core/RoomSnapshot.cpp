#include "core/RoomSnapshot.h"

#include "core/AlarmDecisions.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/CommLossTracker.h"
#include "core/StateCode.h"

namespace {

// Of a battery in alarm from an absolute limit, the higher state's limit, voltage first.
QString limitOf(const Battery& b)
{
    const AbsoluteLimits::Limit volt = b.voltLimit(), temp = b.tempLimit();
    const bool useVolt =
        volt != AbsoluteLimits::count && (temp == AbsoluteLimits::count || b.voltState() >= b.tempState());
    const AbsoluteLimits::Limit limit = useVolt ? volt : temp;
    if (limit == AbsoluteLimits::count)
        return QString();
    return QString(QLatin1Char(AbsoluteLimits::quantityOf(limit))) +
           QLatin1Char(AbsoluteLimits::directionOf(limit));
}

} // namespace

RoomSnapshot RoomSnapshot::take(const QList<QList<Battery*>>& rows, const QList<BatteryGroup*>& groups,
                                const CommLossTracker& commLoss, bool polling, bool modbusMode,
                                const QDateTime& time)
{
    RoomSnapshot s;
    s.summary.polling = polling;
    s.summary.modbusMode = modbusMode;
    s.summary.commLost = int(commLoss.lostSources().size());
    s.time = time;
    for (const QList<Battery*>& row : rows) {
        for (const Battery* b : row) {
            const int index = b->msdIndex() * 8 + b->mkpIndex();
            if (index < 0 || index >= batteryCount)
                continue;
            BatteryEntry& e = s.batteries[size_t(index)];
            e.noData = b->hasNoData();
            e.voltage = e.noData ? qQNaN() : b->voltage();
            e.temperature = e.noData ? qQNaN() : b->temperature();
            e.state = b->state();
            e.voltState = b->voltState();
            e.tempState = b->tempState();
            e.group = b->groupNumber();
            e.confirmed = b->isConfirmed();
            e.commLost = commLoss.isLost(AlarmDecisions::sourceOf(b, modbusMode));
            e.limit = limitOf(*b);
            if (e.group < 1 || e.group > groupCount)
                continue;
            s.summary.warning += e.state == StateCode::Warning;
            s.summary.emergency += e.state == StateCode::Emergency;
            s.summary.unconfirmed += e.state >= StateCode::Warning && !e.confirmed;
        }
    }
    for (const BatteryGroup* g : groups) {
        if (g->number() < 1 || g->number() > groupCount)
            continue;
        GroupEntry& e = s.groups[size_t(g->number() - 1)];
        e.members = g->batteryCount();
        for (const Battery* b : g->batteries())
            e.withData += b->hasNoData() ? 0 : 1;
        e.meanVoltage = e.withData ? g->meanVoltage() : qQNaN();
        e.meanTemperature = e.withData ? g->meanTemperature() : qQNaN();
    }
    return s;
}
