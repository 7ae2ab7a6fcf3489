#pragma once

#include <QByteArray>
#include <QString>

// journal.html and journal_bak.html on disk. Every change is durable when a call returns
// true, and a crash at any point leaves what was durable before readable:
// - an append overwrites only the closing tags at the end of the file, then syncs;
// - anything else (a new file, a repaired tail, a rotation) is written to a side file,
//   synced and renamed into place, and the folder is synced. A folder that takes no new
//   file gets the files rewritten in place instead (see DurableRewrite).
// Files of any size are handled in bounded memory: nothing reads a whole file at once.
// Not thread-safe: one thread at a time.
class JournalFile
{
public:
    explicit JournalFile(const QString& directory);

    QString path() const { return m_path; }
    QString backupPath() const { return m_backupPath; }

    // What the start-up reads back of journal.html: the whole file up to readBackBytes; of a
    // larger file its last readBackBytes, from the first paragraph that starts in them.
    // A missing file is created with the five-line skeleton; a file that exists but cannot
    // be read is left alone (empty result, *readable false).
    QByteArray readAtStart(bool* readable = nullptr);
    static constexpr qint64 readBackBytes = 4 * 1024 * 1024;

    // Puts the encoded paragraphs (each ending in a line break) in front of the closing tags.
    // A file whose end is not the program's own (torn by a crash, written elsewhere) is
    // repaired first, keeping its readable lines.
    bool append(const QByteArray& paragraphs);

    // Size of journal.html in bytes, -1 when it is missing.
    qint64 size() const;
    // True while the file is known to end with the program's closing tags, so the size
    // after an append is the present size plus the appended bytes.
    bool isKnownIntact() const { return m_intactSize >= 0; }

    // Moves the content into journal_bak.html (durable before journal.html changes) and
    // starts journal.html again with the four-line skeleton.
    bool rotate();

private:
    // True when the content is kept lines followed by the closing tags and nothing else.
    static bool isIntact(const QByteArray& content);
    bool appendInPlace(int fd, qint64 size, const QByteArray& paragraphs);
    // Rewrites the first `used` bytes keeping every line but the closing tags and, from
    // `afterLastParagraph` on, what a torn write left behind; then the paragraphs and the tags.
    bool repair(int fd, qint64 used, qint64 afterLastParagraph, const QByteArray& paragraphs);

    QString m_directory;
    QString m_path;
    QString m_backupPath;
    qint64 m_intactSize = -1;
};
