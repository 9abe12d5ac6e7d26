// The tests' bound that only catches a hang, as a test program scales it: ctest's 120 s per case
// through ZEM_TEST_TIME_FACTOR. tests/scripts/time_factor_test.sh runs this case with each
// factor of its table and compares the bound with the scripts' and ctest's.
#include "time_factor.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(TimeFactor, ScalesTheCaseLimit) {
    std::printf("120 s scaled: %d s\n", hangSeconds(120));
    EXPECT_GE(hangSeconds(120), 120);
}

}  // namespace
