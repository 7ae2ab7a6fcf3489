#include "journal/DurableRewrite.h"

#include "journal/FileIo.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.absoluteFilePath();
}

bool allZero(const char* data, qint64 size)
{
    return size <= 0 || (data[0] == 0 && std::memcmp(data, data + 1, size_t(size - 1)) == 0);
}

} // namespace

DurableRewrite::DurableRewrite(const QString& path) : m_target(QFile::encodeName(linkTarget(path)))
{
    m_side = m_target + ".tmp";
}

DurableRewrite::~DurableRewrite()
{
    if (m_fd >= 0 && m_ownsFd)
        ::close(m_fd);
    if (!m_finished && !m_inPlace && m_fd >= 0)
        ::unlink(m_side.constData());
}

bool DurableRewrite::begin(int openFile)
{
    mode_t mode = 0644;
    struct stat st;
    if (::stat(m_target.constData(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    m_fd = ::open(m_side.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (m_fd >= 0) {
        m_ownsFd = true;
        return true;
    }
    // No new file can be made here: rewrite the file itself.
    m_inPlace = true;
    if (openFile >= 0) {
        if (::fstat(openFile, &st) != 0)
            return false;
        m_fd = openFile;
        m_written = st.st_size;
        return true;
    }
    m_fd = ::open(m_target.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, mode);
    if (m_fd < 0)
        return false;
    m_ownsFd = true;
    return FileIo::truncate(m_fd, 0);
}

bool DurableRewrite::write(qint64 offset, const char* data, qint64 size)
{
    if (m_fd < 0)
        return false;
    if (offset >= m_written && allZero(data, size))
        return true;
    if (!FileIo::writeAt(m_fd, data, size, offset))
        return false;
    m_written = qMax(m_written, offset + size);
    return true;
}

bool DurableRewrite::finish(qint64 size)
{
    if (m_fd < 0 || !FileIo::truncate(m_fd, size) || !FileIo::sync(m_fd))
        return false;
    if (m_inPlace) {
        m_finished = true;
        return true;
    }
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!closed || ::rename(m_side.constData(), m_target.constData()) != 0) {
        ::unlink(m_side.constData());
        return false;
    }
    m_finished = true;
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(m_target)).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = FileIo::sync(fd);
    ::close(fd);
    return synced;
}

bool DurableRewrite::replace(const QString& path, const QByteArray& content)
{
    DurableRewrite rewrite(path);
    return rewrite.begin() && rewrite.write(0, content.constData(), content.size()) &&
           rewrite.finish(content.size());
}
