#pragma once

#include <QByteArray>
#include <QString>

// A file written again from its first byte.
// Where the file's folder takes a new file, the content goes to a side file that is synced and
// renamed over the file, then the folder is synced: a crash leaves the old content or the new.
// Where it does not (a read-only folder holding writable files), the file is rewritten through
// its own inode, so the journal keeps working there.
// A symbolic link is followed: its target is rewritten and the link stays a link.
class DurableRewrite
{
public:
    explicit DurableRewrite(const QString& path);
    // An unfinished rewrite through a side file leaves the file untouched.
    ~DurableRewrite();
    DurableRewrite(const DurableRewrite&) = delete;
    DurableRewrite& operator=(const DurableRewrite&) = delete;

    // `openFile`, when given, is the file itself open for reading and writing: a rewrite in
    // place then keeps its content, and the caller writes only what changes. Otherwise a
    // rewrite in place starts from an empty file.
    bool begin(int openFile = -1);
    bool inPlace() const { return m_inPlace; }
    // Zeros over ground that holds nothing yet are left as a hole.
    bool write(qint64 offset, const char* data, qint64 size);
    // Cuts or extends the file to `size` and makes it durable.
    bool finish(qint64 size);

    // The whole file replaced by `content`.
    static bool replace(const QString& path, const QByteArray& content);

private:
    QByteArray m_target;
    QByteArray m_side;
    int m_fd = -1;
    bool m_ownsFd = false;
    bool m_inPlace = false;
    bool m_finished = false;
    qint64 m_written = 0; // from here on the file holds nothing yet
};
