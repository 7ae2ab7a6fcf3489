#include "journal/FileIo.h"

#include <cerrno>
#include <unistd.h>

namespace FileIo {

namespace {
// pread and pwrite until all of it is through.
template <typename Transfer, typename Bytes>
bool whole(Transfer transfer, int fd, Bytes data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size_t(size), off_t(offset));
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
} // namespace

bool readAt(int fd, char* data, qint64 size, qint64 offset)
{
    return whole(::pread, fd, data, size, offset);
}

bool writeAt(int fd, const char* data, qint64 size, qint64 offset)
{
    return whole(::pwrite, fd, data, size, offset);
}

bool sync(int fd)
{
    int result;
    do
        result = ::fsync(fd);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool truncate(int fd, qint64 size)
{
    int result;
    do
        result = ::ftruncate(fd, off_t(size));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace FileIo
