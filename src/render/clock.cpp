// Where the renderers get the time: the platform's local clock, unless a test
// has pointed these at a fixed one.
#include "render/clock.hpp"

TimeOfDay (*render_time_of_day)() = platform_time_of_day;
CalendarTime (*render_calendar_time)() = platform_calendar_time;
