#pragma once

#include "core/RoomSnapshot.h"

#include <QByteArray>
#include <QDateTime>

class Event;

// The JSON bodies of the room's messages, compact. Times are UTC in ISO 8601 to the second
// ("2026-12-08T11:05:03Z"); voltages have 2 decimals and temperatures 1, rounded as the
// journal writes them; a reading without data is null.
namespace MqttPayloads {

// The retained status while running, and the last will and clean exit's.
QByteArray online(const QDateTime& time);
QByteArray offline();
QByteArray battery(const RoomSnapshot::BatteryEntry& battery, const QDateTime& time);
QByteArray group(const RoomSnapshot::GroupEntry& group, const QDateTime& time);
QByteArray summary(const RoomSummary& summary, const QDateTime& time);
// Kinds: "begin", "end", "confirm" of an alarm; "comm_lost", "comm_confirm", "comm_restored".
QByteArray event(const Event& event);
// An event's body with its place in the outbox as "seq", so a subscriber can drop a repeat.
QByteArray withSequence(const QByteArray& event, qint64 seq);
// The note in the events' stream where the outbox dropped its oldest for its bound.
QByteArray droppedNote(int count, const QDateTime& time);

QString utcTime(const QDateTime& time);

} // namespace MqttPayloads
