// Where the renderers get the time. The platform by default; tests point these
// at a fixed clock.
#pragma once

#include "platform/platform.hpp"

extern TimeOfDay (*render_time_of_day)();
extern CalendarTime (*render_calendar_time)();
