// Local time once a second: the zone's offset changes only on a whole second,
// so within one the conversion is reused and only the milliseconds change.
#include "monitor/local_clock.hpp"

#include "platform/clock.hpp"

LocalTime local_time_of(LocalClock* clock, WallClock when) {
    if (!clock->valid || when.seconds != clock->converted_second) {
        clock->converted = platform_local_time(when);
        clock->converted_second = when.seconds;
        clock->valid = true;
    }
    LocalTime time = clock->converted;
    time.milliseconds = static_cast<int>(when.nanoseconds / 1000000);
    return time;
}
