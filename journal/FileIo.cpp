#include "journal/FileIo.h"

#include <cerrno>
#include <unistd.h>

namespace FileIo {

namespace {
// pread or pwrite until all of it is through, the file ends or an error stops it.
template <typename Transfer, typename Bytes>
qint64 transfer(Transfer call, int fd, Bytes data, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = call(fd, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}
} // namespace

bool readAt(int fd, char* data, qint64 size, qint64 offset)
{
    return transfer(::pread, fd, data, size, offset) == size;
}

qint64 readUpTo(int fd, char* data, qint64 size, qint64 offset)
{
    return transfer(::pread, fd, data, size, offset);
}

bool writeAt(int fd, const char* data, qint64 size, qint64 offset)
{
    return transfer(::pwrite, fd, data, size, offset) == size;
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
