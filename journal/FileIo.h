#pragma once

#include <QtGlobal>

// Whole reads and writes at an offset, and syncs, on a file descriptor: each retries on a
// signal and on short transfers, and says only whether all of it happened.
namespace FileIo {
bool readAt(int fd, char* data, qint64 size, qint64 offset);
// Reads until `size` bytes or the end of the file; returns how many it read.
qint64 readUpTo(int fd, char* data, qint64 size, qint64 offset);
bool writeAt(int fd, const char* data, qint64 size, qint64 offset);
bool sync(int fd);
bool truncate(int fd, qint64 size);
} // namespace FileIo
