// Local time on Windows, from GetLocalTime.
#include <windows.h>

#include "platform/platform.hpp"

TimeOfDay platform_time_of_day() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

CalendarTime platform_calendar_time() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    // SYSTEMTIME counts months from 1 and weekdays from Sunday = 0.
    return {now.wDayOfWeek, now.wMonth - 1, now.wDay, now.wHour, now.wMinute, now.wSecond};
}
