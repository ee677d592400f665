// The test command runs the benchmarks in a short form, to keep within its
// time: TARNWICK_BENCH_SHORT=1 (scripts/test.sh sets it). The long form,
// run by hand, is the one whose figures judge the goals.
#pragma once

#include <cstdlib>

namespace tarnwick::bench {

inline int shortOrLong(int shortForm, int longForm) {
    const char* value = std::getenv("TARNWICK_BENCH_SHORT");
    return value != nullptr && value[0] == '1' ? shortForm : longForm;
}

}  // namespace tarnwick::bench
