#pragma once

#include <sys/resource.h>

// A full disk, as far as this process can tell: writes past `bytes` fail with EFBIG (once
// SIGXFSZ is ignored, which the tests do first). RLIM_INFINITY lifts it.
inline bool limitFileSize(rlim_t bytes)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = bytes;
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}
