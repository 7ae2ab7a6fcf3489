#include "mqtt/MqttDiscovery.h"

#include "mqtt/MqttTopics.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace MqttDiscovery {
namespace {

QString topic(const QString& component, const QString& base, const QString& object)
{
    return QStringLiteral("homeassistant/%1/%2/%3/config").arg(component, nodeId(base), object);
}

// The unique id, the room's device and the availability every entry shares. The status is JSON,
// so the template's "1" or "0" is what is compared with the payloads.
QByteArray entry(const QString& base, const QString& roomName, const QString& object, QJsonObject o)
{
    const QString node = nodeId(base);
    o.insert("unique_id", node + QLatin1Char('_') + object);
    o.insert("availability_topic", MqttTopics::status(base));
    o.insert("availability_template", "{{ value_json.online }}");
    o.insert("payload_available", "1");
    o.insert("payload_not_available", "0");
    o.insert("device",
             QJsonObject{{"identifiers", QJsonArray{node}}, {"name", roomName.isEmpty() ? base : roomName}});
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

QString nodeId(const QString& base)
{
    QString node = base;
    for (QChar& c : node) {
        if (c.unicode() > 127 || !(c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')))
            c = QLatin1Char('_');
    }
    const QByteArray hash = QCryptographicHash::hash(base.toUtf8(), QCryptographicHash::Sha1).toHex();
    return node + QLatin1Char('_') + QString::fromLatin1(hash.left(8));
}

Entry batterySensor(const QString& base, const QString& roomName, int battery, char quantity)
{
    const int msd = battery / 8, mkp = battery % 8;
    const bool voltage = quantity == 'u';
    const QString object =
        QStringLiteral("battery_%1_%2").arg(MqttTopics::batteryName(msd, mkp)).arg(QLatin1Char(quantity));
    // A reading without data is null, which the template renders as "None": Home Assistant's
    // word for an unknown state.
    const QJsonObject o{
        {"name", QStringLiteral("МСД %1 МКП %2 %3")
                     .arg(msd, 2, 10, QLatin1Char('0'))
                     .arg(mkp + 1)
                     .arg(voltage ? QStringLiteral("напряжение") : QStringLiteral("температура"))},
        {"state_topic", MqttTopics::battery(base, msd, mkp)},
        {"value_template", QStringLiteral("{{ value_json.%1 }}").arg(QLatin1Char(quantity))},
        {"unit_of_measurement", voltage ? QStringLiteral("V") : QStringLiteral("°C")},
        {"device_class", voltage ? "voltage" : "temperature"},
        {"state_class", "measurement"}};
    return {topic("sensor", base, object), entry(base, roomName, object, o)};
}

Entry alarmSensor(const QString& base, const QString& roomName)
{
    // On while a battery is out of its range, whether or not the operator has confirmed it:
    // confirming acknowledges an alarm, it does not end the problem.
    const QJsonObject o{
        {"name", QStringLiteral("Тревога")},
        {"state_topic", MqttTopics::summary(base)},
        {"value_template", "{{ 'ON' if value_json.warning + value_json.emergency > 0 else 'OFF' }}"},
        {"device_class", "problem"}};
    return {topic("binary_sensor", base, "alarm"), entry(base, roomName, "alarm", o)};
}

} // namespace MqttDiscovery
