#pragma once

#include <cstdlib>

// A broken expectation stops the run; libFuzzer keeps the input that broke it.
inline void Check(bool ok) {
    if (!ok)
        std::abort();
}
