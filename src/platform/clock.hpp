// The clock: the wall clock, its reading in local time, and a short sleep.
#pragma once

#include "net/clock.hpp"

// The wall clock now.
WallClock platform_wall_clock();

// `when` in the local time zone, its milliseconds included.
LocalTime platform_local_time(WallClock when);

// Sleeps about `microseconds` without being woken by arriving datagrams (they
// wait in the capture's buffer meanwhile); does nothing where the platform's
// sleep is too coarse for that.
void platform_nap(int microseconds);
