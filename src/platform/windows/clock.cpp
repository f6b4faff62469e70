// The wall clock and its conversion to local time on Windows: the system time
// as a FILETIME, and the local time GetLocalTime would give for it.
#include <windows.h>

#include "platform/clock.hpp"

namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01; the wall clock counts
// from 1970-01-01.
constexpr std::int64_t ticks_per_second = 10'000'000;
constexpr std::int64_t seconds_1601_to_1970 = 11'644'473'600;

}  // namespace

WallClock platform_wall_clock() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::int64_t ticks =
        static_cast<std::int64_t>(std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);
    return WallClock{ticks / ticks_per_second - seconds_1601_to_1970,
                     static_cast<std::int32_t>(ticks % ticks_per_second * 100)};
}

LocalTime platform_local_time(WallClock when) {
    const auto ticks =
        static_cast<std::uint64_t>((when.seconds + seconds_1601_to_1970) * ticks_per_second);
    const FILETIME utc_file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&utc_file, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return LocalTime{};
    }
    // SYSTEMTIME counts months from 1 and weekdays from Sunday = 0.
    return LocalTime{local.wDayOfWeek,
                     local.wMonth - 1,
                     local.wDay,
                     local.wHour,
                     local.wMinute,
                     local.wSecond,
                     static_cast<int>(when.nanoseconds / 1000000)};
}

void platform_nap(int /*microseconds*/) {
    // Sleep counts whole milliseconds (and the system's tick): far too long.
}
