#include "journal/JournalFile.h"

#include "journal/DurableRewrite.h"
#include "journal/FileIo.h"
#include "journal/JournalFormat.h"
#include "journal/JournalLineReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray& tail()
{
    return JournalFormat::closingTags;
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

// The file ends with "\n</body>\n</html>" (or is only the closing tags).
bool tailIsIntact(int fd, qint64 size)
{
    const int length = tail().size();
    if (size < length)
        return false;
    const bool wholeFile = size == length;
    QByteArray end(wholeFile ? length : length + 1, Qt::Uninitialized);
    if (!FileIo::readAt(fd, end.data(), end.size(), size - end.size()))
        return false;
    return end.endsWith(tail()) && (wholeFile || end.at(0) == '\n');
}

using Line = JournalLineReader::Line;

bool endsWithClosingPart(const QByteArray& end)
{
    for (const char* tag : {"</body>", "</html>"}) {
        const QByteArray closing(tag);
        for (int n = 1; n <= closing.size(); ++n)
            if (end.endsWith(closing.right(n)))
                return true;
    }
    return false;
}

// What a torn append leaves after the last complete paragraph: the start of a paragraph,
// a piece of the closing tags, or the start of a paragraph run into what was left of them.
bool isTornRemnant(const Line& line)
{
    if (line.paragraphOpen)
        return true; // a paragraph that never got its end tag
    // Without a carriage return before the line break.
    const bool cr = line.endSize > 0 && line.end[line.endSize - 1] == '\r';
    const qint64 length = line.length - (cr ? 1 : 0);
    const QByteArray head(line.head, int(qMin<qint64>(line.headSize, length)));
    const QByteArray end(line.end, line.endSize - (cr ? 1 : 0));
    if (length > 0 && length == head.size())
        for (const char* text : {"<p>", "</body>", "</html>"})
            if (QByteArray(text).startsWith(head))
                return true;
    return head.startsWith("<p") && endsWithClosingPart(end);
}

// A repair drops every line with a closing tag, and the torn remnants after the last
// complete paragraph.
bool isDropped(const Line& line, qint64 afterLastParagraph)
{
    return line.closingTag || (line.start >= afterLastParagraph && isTornRemnant(line));
}

// What a look through the whole file finds.
struct Shape
{
    qint64 used = 0;               // without the zeros a power cut can leave at the end
    qint64 afterLastParagraph = 0; // where the line after the last complete paragraph starts
    int closingLines = 0;          // lines holding a closing tag
};

bool examine(int fd, qint64 size, Shape* shape)
{
    shape->used = size;
    QByteArray block(64 * 1024, Qt::Uninitialized);
    while (shape->used > 0) {
        const qint64 n = qMin<qint64>(block.size(), shape->used);
        if (!FileIo::readAt(fd, block.data(), n, shape->used - n))
            return false;
        qint64 i = n;
        while (i > 0 && block.at(int(i - 1)) == '\0')
            --i;
        shape->used -= n - i;
        if (i > 0)
            break;
    }
    return JournalLineReader::read(fd, shape->used, nullptr, [shape](const Line& line) {
        if (line.paragraphClose)
            shape->afterLastParagraph = line.start + line.length + 1;
        if (line.closingTag)
            ++shape->closingLines;
        return true;
    });
}

// Reads up to `size` bytes at `offset`; fewer when the file ends earlier.
QByteArray readUpTo(int fd, qint64 size, qint64 offset)
{
    QByteArray data(int(size), Qt::Uninitialized);
    data.truncate(int(FileIo::readUpTo(fd, data.data(), size, offset)));
    return data;
}

} // namespace

JournalFile::JournalFile(const QString& directory)
    : m_directory(QDir(directory.isEmpty() ? QDir::currentPath() : directory).absolutePath()),
      m_path(QDir(m_directory).filePath(QStringLiteral("journal.html"))),
      m_backupPath(QDir(m_directory).filePath(QStringLiteral("journal_bak.html")))
{
}

QByteArray JournalFile::readAtStart(bool* readable)
{
    if (readable)
        *readable = false;
    m_intactSize = -1;
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink()) {
        const QByteArray skeleton = JournalFormat::createdSkeleton();
        if (DurableRewrite::replace(m_path, skeleton)) {
            m_intactSize = skeleton.size();
            if (readable)
                *readable = true;
            return skeleton;
        }
        return QByteArray();
    }
    const int fd = ::open(nativePath(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return QByteArray();
    }
    const qint64 size = st.st_size;
    QByteArray content;
    if (size <= readBackBytes) {
        content = readUpTo(fd, size, 0);
        if (content.size() == size && isIntact(content))
            m_intactSize = size;
    } else {
        // Only the newest part of a large file, from the first paragraph that starts in it;
        // its shape is looked at by the first append, on the journal's thread.
        content = readUpTo(fd, readBackBytes, size - readBackBytes);
        const int first = content.indexOf("<p>");
        content = first < 0 ? QByteArray() : content.mid(first);
    }
    ::close(fd);
    if (readable)
        *readable = true;
    return content;
}

bool JournalFile::append(const QByteArray& paragraphs)
{
    const int fd = ::open(nativePath(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_intactSize = -1;
        return false;
    }
    bool ok = false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const qint64 size = st.st_size;
        if (m_intactSize == size && tailIsIntact(fd, size)) {
            ok = appendInPlace(fd, size, paragraphs);
        } else {
            // Changed behind our back, torn by a crash, or never ours: look at all of it.
            Shape shape;
            if (examine(fd, size, &shape)) {
                if (shape.closingLines == 2 && tailIsIntact(fd, size))
                    ok = appendInPlace(fd, size, paragraphs);
                else
                    ok = repair(fd, shape.used, shape.afterLastParagraph, paragraphs);
            }
        }
    }
    ::close(fd);
    if (!ok && m_intactSize >= 0 && size() != m_intactSize)
        m_intactSize = -1;
    return ok;
}

bool JournalFile::appendInPlace(int fd, qint64 size, const QByteArray& paragraphs)
{
    const qint64 at = size - tail().size();
    const QByteArray text = paragraphs + tail();
    if (!FileIo::writeAt(fd, text.constData(), text.size(), at)) {
        // Disk full or similar: put the end back as it was, so the file stays whole.
        FileIo::writeAt(fd, tail().constData(), tail().size(), at);
        FileIo::truncate(fd, size);
        FileIo::sync(fd);
        m_intactSize = size;
        return false;
    }
    m_intactSize = at + text.size();
    return FileIo::sync(fd);
}

bool JournalFile::repair(int fd, qint64 used, qint64 afterLastParagraph, const QByteArray& paragraphs)
{
    m_intactSize = -1;
    DurableRewrite rewrite(m_path);
    if (!rewrite.begin(fd))
        return false;
    // Kept lines are written as they stream by; a line that turns out to be dropped is
    // written over by the next. In place, the kept text never overtakes what has been read,
    // and bytes already where they belong are left alone.
    qint64 at = 0, lineAt = 0;
    const bool read = JournalLineReader::read(
        fd, used,
        [&](qint64 offset, const char* data, qint64 n) {
            if (!(rewrite.inPlace() && offset == at) && !rewrite.write(at, data, n))
                return false;
            at += n;
            return true;
        },
        [&](const JournalLineReader::Line& line) {
            if (isDropped(line, afterLastParagraph))
                at = lineAt;
            else if (!line.hasBreak && rewrite.write(at, "\n", 1))
                ++at;
            else if (!line.hasBreak)
                return false;
            lineAt = at;
            return true;
        });
    const QByteArray text = paragraphs + tail();
    if (!read || !rewrite.write(at, text.constData(), text.size()) || !rewrite.finish(at + text.size()))
        return false;
    m_intactSize = at + text.size();
    return true;
}

qint64 JournalFile::size() const
{
    struct stat st;
    if (::stat(nativePath(m_path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool JournalFile::rotate()
{
    const int fd = ::open(nativePath(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    DurableRewrite backup(m_backupPath);
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && backup.begin();
    // The content is copied in chunks, every line followed by a line break.
    const qint64 size = ok ? qint64(st.st_size) : 0;
    QByteArray chunk(int(JournalLineReader::chunkBytes), Qt::Uninitialized);
    char last = '\n';
    for (qint64 at = 0; ok && at < size; at += chunk.size()) {
        const qint64 n = qMin<qint64>(chunk.size(), size - at);
        ok = FileIo::readAt(fd, chunk.data(), n, at) && backup.write(at, chunk.constData(), n);
        last = chunk.at(int(n - 1));
    }
    ::close(fd);
    const qint64 backupSize = size + (last == '\n' ? 0 : 1);
    // journal_bak.html is complete on disk before journal.html is emptied.
    if (!ok || (last != '\n' && !backup.write(size, "\n", 1)) || !backup.finish(backupSize))
        return false;
    const QByteArray skeleton = JournalFormat::rotatedSkeleton();
    if (!DurableRewrite::replace(m_path, skeleton)) {
        m_intactSize = -1;
        return false;
    }
    m_intactSize = skeleton.size();
    return true;
}

bool JournalFile::isIntact(const QByteArray& content)
{
    const int length = tail().size();
    const int size = content.size();
    if (size < length || !content.endsWith(tail()))
        return false;
    if (size > length && content.at(size - length - 1) != '\n')
        return false;
    return content.indexOf("</body>") == size - length && content.indexOf("</html>") == size - 7;
}
