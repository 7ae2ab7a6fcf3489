#pragma once

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

inline bool limitResource(__rlimit_resource resource, rlim_t bytes)
{
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0)
        return false;
    limit.rlim_cur = bytes;
    return ::setrlimit(resource, &limit) == 0;
}

// A full disk as this process sees it (once SIGXFSZ is ignored); RLIM_INFINITY lifts it.
inline bool limitFileSize(rlim_t bytes)
{
    return limitResource(RLIMIT_FSIZE, bytes);
}
// Sanitizers reserve huge address space: no address-space cap to be had under them.
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

// Bytes of address space mapped now, 0 when unknown.
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
    return limitResource(RLIMIT_AS, bytes);
}
