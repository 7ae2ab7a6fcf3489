#include "mqtt/MqttPayloads.h"

#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "journal/Event.h"
#include "journal/JournalFormat.h"
#include "mqtt/MqttTopics.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace MqttPayloads {
namespace {

// The journal's digits, so a message and the journal never disagree in the last decimal.
QJsonValue rounded(double value, int decimals)
{
    return JournalFormat::fixedNumber(value, decimals).toDouble();
}

QJsonValue limitName(char quantity, char direction)
{
    return quantity ? QJsonValue(QString(QLatin1Char(quantity)) + QLatin1Char(direction)) : QJsonValue();
}

// Of a battery in alarm from an absolute limit, the higher state's limit, voltage first.
QJsonValue batteryLimit(const Battery& b)
{
    const AbsoluteLimits::Limit volt = b.voltLimit(), temp = b.tempLimit();
    const bool useVolt =
        volt != AbsoluteLimits::count && (temp == AbsoluteLimits::count || b.voltState() >= b.tempState());
    const AbsoluteLimits::Limit limit = useVolt ? volt : temp;
    if (limit == AbsoluteLimits::count)
        return QJsonValue();
    return limitName(AbsoluteLimits::quantityOf(limit), AbsoluteLimits::directionOf(limit));
}

QString kindOf(const Event& e)
{
    switch (e.kind()) {
    case Event::Kind::CommLost:
        return e.isConfirmed() ? QStringLiteral("comm_confirm") : QStringLiteral("comm_lost");
    case Event::Kind::CommRestored:
        return QStringLiteral("comm_restored");
    case Event::Kind::Alarm:
        break;
    }
    if (e.isConfirmed())
        return QStringLiteral("confirm");
    return e.isStarted() ? QStringLiteral("begin") : QStringLiteral("end");
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QString utcTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QByteArray online(const QDateTime& time)
{
    return compact({{"online", 1}, {"time", utcTime(time)}});
}

QByteArray offline()
{
    return compact({{"online", 0}});
}

QByteArray battery(const Battery& b, bool commLost, const QDateTime& time)
{
    const bool noData = b.hasNoData();
    return compact({{"u", noData ? QJsonValue() : rounded(b.voltage(), 2)},
                    {"t", noData ? QJsonValue() : rounded(b.temperature(), 1)},
                    {"state", b.state()},
                    {"u_state", b.voltState()},
                    {"t_state", b.tempState()},
                    {"group", b.groupNumber()},
                    {"confirmed", b.isConfirmed()},
                    {"no_data", noData},
                    {"comm_lost", commLost},
                    {"limit", batteryLimit(b)},
                    {"time", utcTime(time)}});
}

QByteArray group(const BatteryGroup& g, const QDateTime& time)
{
    int withData = 0;
    for (const Battery* b : g.batteries())
        withData += b->hasNoData() ? 0 : 1;
    return compact({{"u_mean", withData ? rounded(g.meanVoltage(), 2) : QJsonValue()},
                    {"t_mean", withData ? rounded(g.meanTemperature(), 1) : QJsonValue()},
                    {"members", g.batteryCount()},
                    {"with_data", withData},
                    {"time", utcTime(time)}});
}

QByteArray summary(const MqttSummary& s, const QDateTime& time)
{
    return compact({{"warning", s.warning},
                    {"emergency", s.emergency},
                    {"unconfirmed", s.unconfirmed},
                    {"comm_lost", s.commLost},
                    {"polling", s.polling},
                    {"mode", s.modbusMode ? QStringLiteral("modbus") : QStringLiteral("native")},
                    {"time", utcTime(time)}});
}

QByteArray event(const Event& e)
{
    QJsonObject o{{"time", utcTime(e.time())},
                  {"group", e.groupNumber()},
                  {"kind", kindOf(e)},
                  {"confirmed", e.isConfirmed()}};
    if (e.kind() != Event::Kind::Alarm) {
        // The journal names a native module, or a Modbus group's device by its address.
        o.insert("battery", QJsonValue());
        if (e.modbusAddress() > 0)
            o.insert("address", e.modbusAddress());
        else
            o.insert("module", e.msdIndex());
        return compact(o);
    }
    o.insert("battery", MqttTopics::batteryName(e.msdIndex(), e.mkpIndex()));
    o.insert("u", rounded(e.voltage(), 2));
    o.insert("t", rounded(e.temperature(), 1));
    o.insert("du", rounded(e.voltDeviation(), 2));
    o.insert("dt", rounded(e.tempDeviation(), 1));
    o.insert("u_state", e.voltState());
    o.insert("t_state", e.tempState());
    o.insert("limit", limitName(e.limitQuantity(), e.limitDirection()));
    o.insert("limit_value",
             e.limitQuantity() ? rounded(e.limitValue(), e.limitQuantity() == 'U' ? 2 : 1) : QJsonValue());
    return compact(o);
}

} // namespace MqttPayloads
