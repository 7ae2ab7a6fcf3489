#pragma once

#include <QByteArray>
#include <QString>

// journal.html and journal_bak.html on disk. Every change is durable when a call returns
// true, and a crash at any point leaves what was durable before readable:
// - an append overwrites only the closing tags at the end of the file, then syncs;
// - anything else (a new file, a repaired tail, a rotation) is written to a side file,
//   synced and renamed into place, and the folder is synced.
// Not thread-safe: one thread at a time.
class JournalFile
{
public:
    explicit JournalFile(const QString& directory);

    QString path() const { return m_path; }
    QString backupPath() const { return m_backupPath; }

    // Start-up: the bytes of journal.html. A missing file is created with the five-line
    // skeleton; a file that exists but cannot be read is left alone (empty result, *readable false).
    QByteArray readAtStart(bool* readable = nullptr);

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

    // The lines of a file's content that a repair keeps, each ending in a line break:
    // every line but the closing tags and, at the end, what a torn write left behind.
    static QByteArray keptLines(const QByteArray& content);
    // True when the content is kept lines followed by the closing tags and nothing else.
    static bool isIntact(const QByteArray& content);

private:
    bool appendInPlace(int fd, qint64 size, const QByteArray& paragraphs);
    bool replaceDurably(const QString& target, const QByteArray& content);
    bool syncDirectory() const;

    QString m_directory;
    QString m_path;
    QString m_backupPath;
    qint64 m_intactSize = -1;
};
