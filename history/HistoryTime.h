#pragma once

#include <QtGlobal>

// Time slots and retention of the history, in milliseconds since the epoch (UTC).
namespace HistoryTime {

constexpr qint64 second = 1000;
constexpr qint64 minute = 60 * second;
constexpr qint64 hour = 60 * minute;
constexpr qint64 day = 24 * hour;

constexpr qint64 rawKept = 7 * day;
constexpr qint64 minutesKept = 365 * day;

// Start of the slot of length `slot` holding `msecs`; exact for times before 1970 too.
constexpr qint64 slotStart(qint64 msecs, qint64 slot)
{
    const qint64 r = msecs % slot;
    return r < 0 ? msecs - r - slot : msecs - r;
}

} // namespace HistoryTime
