// Local wall-clock time for the summary line and the detail view.
#include <time.h>

#include "platform/platform.hpp"

namespace {

// The current time split into local broken-down time and milliseconds.
// localtime_r does not read the time zone itself, so tzset runs once here;
// unlike localtime, it also does not re-read /etc/localtime on every call.
struct tm local_now(int* milliseconds) {
    static const bool zone_ready = (tzset(), true);
    static_cast<void>(zone_ready);
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    // The conversion runs once a second: the zone is read only once, and
    // its offset changes only on a whole second.
    static time_t converted_second = -1;
    static struct tm local {};
    if (now.tv_sec != converted_second) {
        localtime_r(&now.tv_sec, &local);
        converted_second = now.tv_sec;
    }
    if (milliseconds != nullptr) {
        *milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    }
    return local;
}

}  // namespace

TimeOfDay platform_time_of_day() {
    int milliseconds = 0;
    const struct tm local = local_now(&milliseconds);
    return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec, milliseconds};
}

CalendarTime platform_calendar_time() {
    const struct tm local = local_now(nullptr);
    return CalendarTime{local.tm_wday, local.tm_mon, local.tm_mday,
                        local.tm_hour, local.tm_min, local.tm_sec};
}
