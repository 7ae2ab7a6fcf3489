#include "journal/JournalFile.h"

#include "journal/JournalFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>
#include <cerrno>
#include <fcntl.h>
#include <limits>
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

bool writeAllAt(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool readAllAt(int fd, char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool syncFile(int fd)
{
    int result;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

// The file ends with "\n</body>\n</html>" (or is only the closing tags).
bool tailIsIntact(int fd, qint64 size)
{
    const int length = tail().size();
    if (size < length)
        return false;
    const bool wholeFile = size == length;
    QByteArray end(wholeFile ? length : length + 1, Qt::Uninitialized);
    if (!readAllAt(fd, end.data(), end.size(), size - end.size()))
        return false;
    return end.endsWith(tail()) && (wholeFile || end.at(0) == '\n');
}

bool isPrefixOf(const QByteArray& line, const char* text)
{
    return !line.isEmpty() && QByteArray(text).startsWith(line);
}

bool endsWithClosingPart(const QByteArray& line)
{
    for (const char* tag : {"</body>", "</html>"}) {
        const QByteArray closing(tag);
        for (int n = 1; n <= closing.size(); ++n)
            if (line.endsWith(closing.right(n)))
                return true;
    }
    return false;
}

// What a torn append leaves after the last complete paragraph: the start of a paragraph,
// a piece of the closing tags, or the start of a paragraph run into what was left of them.
bool isTornRemnant(const QByteArray& line)
{
    if (line.contains("<p>"))
        return true; // a paragraph that never got its end tag
    if (isPrefixOf(line, "<p>") || isPrefixOf(line, "</body>") || isPrefixOf(line, "</html>"))
        return true;
    return line.startsWith("<p") && endsWithClosingPart(line);
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
        if (replaceDurably(m_path, skeleton)) {
            m_intactSize = skeleton.size();
            if (readable)
                *readable = true;
            return skeleton;
        }
        return QByteArray();
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray content = file.readAll();
    if (readable)
        *readable = true;
    if (isIntact(content))
        m_intactSize = content.size();
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
            QByteArray content(int(size), Qt::Uninitialized);
            if (size <= std::numeric_limits<int>::max() / 2 && readAllAt(fd, content.data(), size, 0)) {
                if (isIntact(content)) {
                    ok = appendInPlace(fd, size, paragraphs);
                } else {
                    const QByteArray repaired = keptLines(content) + paragraphs + tail();
                    ok = replaceDurably(m_path, repaired);
                    m_intactSize = ok ? repaired.size() : -1;
                }
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
    if (!writeAllAt(fd, text.constData(), text.size(), at)) {
        // Disk full or similar: put the end back as it was, so the file stays whole.
        writeAllAt(fd, tail().constData(), tail().size(), at);
        while (::ftruncate(fd, off_t(size)) != 0 && errno == EINTR) {
        }
        syncFile(fd);
        m_intactSize = size;
        return false;
    }
    m_intactSize = at + text.size();
    return syncFile(fd);
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
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray content = file.readAll();
    file.close();
    // Every line followed by a line break.
    if (!content.isEmpty() && !content.endsWith('\n'))
        content += '\n';
    // journal_bak.html is complete on disk before journal.html is emptied.
    if (!replaceDurably(m_backupPath, content))
        return false;
    const QByteArray skeleton = JournalFormat::rotatedSkeleton();
    if (!replaceDurably(m_path, skeleton)) {
        m_intactSize = -1;
        return false;
    }
    m_intactSize = skeleton.size();
    return true;
}

bool JournalFile::replaceDurably(const QString& target, const QByteArray& content)
{
    const QByteArray targetName = nativePath(target);
    const QByteArray sideName = targetName + ".tmp";
    mode_t mode = 0644;
    struct stat st;
    if (::stat(targetName.constData(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    const int fd = ::open(sideName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool written = writeAllAt(fd, content.constData(), content.size(), 0) && syncFile(fd);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(sideName.constData(), targetName.constData()) != 0) {
        ::unlink(sideName.constData());
        return false;
    }
    return syncDirectory();
}

bool JournalFile::syncDirectory() const
{
    const int fd = ::open(nativePath(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = syncFile(fd);
    ::close(fd);
    return ok;
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

QByteArray JournalFile::keptLines(const QByteArray& content)
{
    // A power cut can leave the unwritten end of a file as zero bytes.
    int size = content.size();
    while (size > 0 && content.at(size - 1) == '\0')
        --size;

    struct Line
    {
        int start;
        int length;
    };
    QVector<Line> lines;
    int lastParagraphEnd = -1;
    for (int start = 0; start < size;) {
        int end = content.indexOf('\n', start);
        if (end < 0 || end >= size)
            end = size;
        lines.append({start, end - start});
        if (content.mid(start, end - start).contains("</p>"))
            lastParagraphEnd = lines.size() - 1;
        start = end + 1;
    }

    QByteArray kept;
    kept.reserve(size + 1);
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = content.mid(lines[i].start, lines[i].length);
        if (line.contains("</body>") || line.contains("</html>"))
            continue;
        QByteArray bare = line;
        if (bare.endsWith('\r'))
            bare.chop(1);
        if (i > lastParagraphEnd && isTornRemnant(bare))
            continue;
        kept += line;
        kept += '\n';
    }
    return kept;
}
