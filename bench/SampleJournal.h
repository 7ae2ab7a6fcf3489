#pragma once

#include "journal/Event.h"
#include "journal/JournalFormat.h"

#include <QDateTime>

// Journals for the benchmarks: numbered events and whole files as the program writes them.
namespace SampleJournal {

inline Event numbered(int n)
{
    const QDateTime time(QDate(2026, 3, 1), QTime(8, 0, 0));
    return Event(n % 16, n % 8, n % 7, time.addSecs(n), 20.0 + (n % 10) * 0.1, 12.0 + (n % 50) * 0.01, 0.3,
                 -0.25, n % 2 == 0, false, 1, 1);
}

// A journal file of about `bytes` bytes, made of paragraphs, as the program writes it.
inline QByteArray journalOf(qint64 bytes)
{
    QByteArray content = JournalFormat::createdSkeleton().chopped(JournalFormat::closingTags.size());
    for (int n = 0; content.size() + JournalFormat::closingTags.size() < bytes; ++n)
        content += JournalFormat::encode(JournalFormat::toHtml(numbered(n))) + '\n';
    return content + JournalFormat::closingTags;
}

} // namespace SampleJournal
