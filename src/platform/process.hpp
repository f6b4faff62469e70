// The process: the signals that stop it, and the privileges it gives up once
// capturing.
#pragma once

#include <cstddef>

// --- Signals ---------------------------------------------------------------------

// A write to a pipe or socket whose reader went away fails with an error
// (EPIPE) instead of ending the process.
void platform_ignore_broken_pipes();

// Catches the stop signals (interrupt, termination, hang-up): the first one is
// kept for platform_stop_signal; a second one ends the process at once, as if
// nothing caught it.
void platform_catch_stop_signals();

// The stop signal that came, or 0 while none did.
int platform_stop_signal();

// Ends the process as the signal would have ended it, had it not been caught.
[[noreturn]] void platform_end_by_signal(int signal);

// --- Privileges ------------------------------------------------------------------

// Gives up what the capture needed, once it is open: switches to `user_name`
// (nullptr: the user who started the monitor through sudo, if it was; "root"
// or uid 0 stays root), then drops every capability and sets no_new_privs.
// False, with the reason in `reason` (`size` bytes), when that could not be
// done.
bool platform_drop_privileges(const char* user_name, char* reason, std::size_t size);
