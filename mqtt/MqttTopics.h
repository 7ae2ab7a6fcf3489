#pragma once

#include <QString>

// The topics a battery room publishes under its base topic, e.g. "orvik/room-1/battery/05_3".
namespace MqttTopics {

// The room's name when the operator has set none: the host name.
QString defaultRoomName();
// "orvik/<room>": each '/', '+', '#', blank or control character of the room's name becomes
// '_', so the name stays one topic level and never a wildcard; an empty name is "room".
QString defaultBase(const QString& roomName);
// The configured base topic, or the default one when it is empty (blanks around are dropped).
QString base(const QString& configuredTopic, const QString& roomName);

QString status(const QString& base);
// "MM_K": МСД index 0..15 with two digits, МКП numbered 1..8 from its index 0..7.
QString batteryName(int msdIndex, int mkpIndex);
QString battery(const QString& base, int msdIndex, int mkpIndex);
QString group(const QString& base, int groupNumber);
QString summary(const QString& base);
QString event(const QString& base);

} // namespace MqttTopics
