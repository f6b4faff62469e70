// The receive loop's clock: the wall clock read once per datagram, and its
// conversion to local time made once a second.
#pragma once

#include <cstdint>

#include "net/clock.hpp"

struct LocalClock {
    std::int64_t converted_second;  // the second `converted` is for
    LocalTime converted;
    bool valid;  // false until the first conversion
};

// `when` in local time; the platform converts it only when its second differs
// from the last one converted.
LocalTime local_time_of(LocalClock* clock, WallClock when);
