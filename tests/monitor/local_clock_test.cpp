// The receive loop's clock: one conversion to local time a second, the
// milliseconds from the reading itself.
#include "monitor/local_clock.hpp"

#include <gtest/gtest.h>

namespace {

TEST(LocalClock, ConvertsOnceASecondAndTakesTheMillisecondsOfEachReading) {
    LocalClock clock{};
    const LocalTime first = local_time_of(&clock, WallClock{1'000'000'000, 7'999'999});
    EXPECT_EQ(first.milliseconds, 7);
    // Within the same second the conversion is kept: only the milliseconds
    // move. A stale conversion is visible as a stale second.
    clock.converted.second = 99;
    const LocalTime same_second = local_time_of(&clock, WallClock{1'000'000'000, 999'000'000});
    EXPECT_EQ(same_second.second, 99);
    EXPECT_EQ(same_second.milliseconds, 999);
    // The next second is converted afresh.
    const LocalTime next = local_time_of(&clock, WallClock{1'000'000'001, 0});
    EXPECT_EQ(next.second, (first.second + 1) % 60);
    EXPECT_EQ(next.milliseconds, 0);
}

}  // namespace
