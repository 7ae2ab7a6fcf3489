#pragma once
#include <cstdlib>

// A broken invariant stops the run like a crash, so the fuzzer keeps the input.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
