#pragma once

#include <QByteArray>
#include <QString>

// The retained entries by which Home Assistant finds the room by itself (MQTT discovery, under
// "homeassistant/"): a voltage and a temperature sensor for each grouped battery, reading its
// topic's JSON, and one problem sensor for the room's alarm. All of a room's entities belong
// to one device, named after the room, and go unavailable with the room's status.
namespace MqttDiscovery {

struct Entry
{
    QString topic;
    QByteArray payload;
};

// Letters, digits, '_' and '-' of the base topic, the rest '_', and a short hash of the whole
// base, so rooms whose names differ only in other characters (Cyrillic ones) never collide.
QString nodeId(const QString& base);
// `quantity`: 'u' voltage, 't' temperature; `battery`: МСД * 8 + МКП.
Entry batterySensor(const QString& base, const QString& roomName, int battery, char quantity);
Entry alarmSensor(const QString& base, const QString& roomName);

} // namespace MqttDiscovery
