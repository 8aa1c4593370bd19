#pragma once
// What the fuzz targets assert: a broken invariant stops the run, and libFuzzer keeps the input.
#include <cstdlib>

namespace fuzz {

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace fuzz
