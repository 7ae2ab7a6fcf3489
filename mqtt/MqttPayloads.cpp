#include "mqtt/MqttPayloads.h"

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

QJsonValue reading(double value, int decimals)
{
    return qIsNaN(value) ? QJsonValue() : rounded(value, decimals);
}

QJsonValue limitName(char quantity, char direction)
{
    return quantity ? QJsonValue(QString(QLatin1Char(quantity)) + QLatin1Char(direction)) : QJsonValue();
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

QByteArray battery(const RoomSnapshot::BatteryEntry& b, const QDateTime& time)
{
    return compact({{"u", reading(b.voltage, 2)},
                    {"t", reading(b.temperature, 1)},
                    {"state", b.state},
                    {"u_state", b.voltState},
                    {"t_state", b.tempState},
                    {"group", b.group},
                    {"confirmed", b.confirmed},
                    {"no_data", b.noData},
                    {"comm_lost", b.commLost},
                    {"limit", b.limit.isEmpty() ? QJsonValue() : QJsonValue(b.limit)},
                    {"time", utcTime(time)}});
}

QByteArray group(const RoomSnapshot::GroupEntry& g, const QDateTime& time)
{
    return compact({{"u_mean", reading(g.meanVoltage, 2)},
                    {"t_mean", reading(g.meanTemperature, 1)},
                    {"members", g.members},
                    {"with_data", g.withData},
                    {"time", utcTime(time)}});
}

QByteArray summary(const RoomSummary& s, const QDateTime& time)
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

QByteArray withSequence(const QByteArray& event, qint64 seq)
{
    QJsonObject o = QJsonDocument::fromJson(event).object();
    o.insert("seq", seq);
    return compact(o);
}

QByteArray droppedNote(int count, const QDateTime& time)
{
    return compact({{"time", utcTime(time)}, {"kind", "dropped"}, {"count", count}});
}

} // namespace MqttPayloads
