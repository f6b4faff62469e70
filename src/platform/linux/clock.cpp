// The wall clock, its conversion to local time and a short sleep on Linux.
#include <time.h>

#include "platform/clock.hpp"

WallClock platform_wall_clock() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return WallClock{now.tv_sec, static_cast<std::int32_t>(now.tv_nsec)};
}

LocalTime platform_local_time(WallClock when) {
    // localtime_r does not read the time zone itself: tzset runs once, and,
    // unlike localtime, /etc/localtime is not read again on every call.
    static const bool zone_ready = (tzset(), true);
    static_cast<void>(zone_ready);
    const time_t seconds = static_cast<time_t>(when.seconds);
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr) {
        return LocalTime{};
    }
    return LocalTime{local.tm_wday,
                     local.tm_mon,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(when.nanoseconds / 1000000)};
}

void platform_nap(int microseconds) {
    const timespec nap{0, static_cast<long>(microseconds) * 1000};
    nanosleep(&nap, nullptr);  // a signal cuts it short: the caller looks at it next
}
