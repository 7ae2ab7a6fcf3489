#pragma once

#include "journal/Event.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct AlarmThresholds;

// The journal file's format: paragraphs, skeletons, windows-1251, and the read-back.
// Plain functions without widgets or files, so the format can be checked on its own.
namespace JournalFormat {

// The closing lines every append goes in front of.
extern const QByteArray closingTags;

// journal.html as the program first creates it, with the style line (5 lines).
QByteArray createdSkeleton();
// journal.html right after a rotation (4 lines).
QByteArray rotatedSkeleton();
// The head of the exported document: <html>, <body> and the style line, each with a line break.
QString styledHead();

// A number as the file writes it: fixed decimals, a full stop, halves away from zero.
// The journal page shows the same digits.
QString fixedNumber(double value, int decimals);

// The event's HTML paragraph, without a line break.
QString toHtml(const Event& event);

QByteArray encode(const QString& text);
QString decode(const QByteArray& bytes);

int voltStateOf(double voltDeviation, const AlarmThresholds& thresholds);
int tempStateOf(double tempDeviation, const AlarmThresholds& thresholds);

struct ReadBack
{
    QList<Event> events;  // the newest ones, at most as many as asked for, oldest first
    int total = 0;        // paragraphs read in all
    bool complete = true; // false when a stop rule ended the reading early
};

// Reads the paragraphs of a journal file back into events; states come from the given
// thresholds. Keeps only the newest `keepNewest` events.
ReadBack readBack(const QByteArray& file, const AlarmThresholds& thresholds, int keepNewest);

} // namespace JournalFormat
