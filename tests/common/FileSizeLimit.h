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

// The address space, capped to prove that large files are read in bounded memory: reading
// one whole then fails at once. Sanitizers reserve huge address space, so there is no cap
// to be had under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVIK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ORVIK_SANITIZED 1
#endif
#endif
#ifndef ORVIK_SANITIZED
#define ORVIK_SANITIZED 0
#endif

#include <cstdio>
#include <unistd.h>

// Bytes of address space the process has mapped now, 0 when unknown.
inline long long addressSpaceInUse()
{
    long long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return pages * ::sysconf(_SC_PAGESIZE);
}

inline bool limitAddressSpace(rlim_t bytes)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0)
        return false;
    limit.rlim_cur = bytes;
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}
