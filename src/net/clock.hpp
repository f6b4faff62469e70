// Clock readings as values: the wall clock when a datagram was taken (or the
// time stamp a capture file gives it), and the same moment in local time as
// the views print it.
#pragma once

#include <cstdint>

// Seconds since 1970-01-01 UTC and the fraction of the second.
struct WallClock {
    std::int64_t seconds;
    std::int32_t nanoseconds;  // 0 to 999,999,999
};

// Local time of day and calendar date.
struct LocalTime {
    int weekday;  // 0 = Sunday
    int month;    // 0 = January
    int day;      // 1..31
    int hour;
    int minute;
    int second;
    int milliseconds;
};
