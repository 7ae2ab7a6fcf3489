#pragma once

#include "core/RoomSummary.h"
#include "journal/Event.h"

#include <QString>
#include <QVector>

// The Russian text of an alarm mail: one line per event, in journal order, and the room's
// present state under them. The subject names the room and the first event, and how many
// more came with it.
namespace MailDigest {

QString line(const Event& event);
QString subject(const QString& room, const QVector<Event>& events);
QString body(const QString& room, const QVector<Event>& events, const RoomSummary& now);

} // namespace MailDigest
