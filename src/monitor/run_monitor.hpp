// The program's main routine: start-up, then the receive loop.
#pragma once

#include "platform/console.hpp"
#include "platform/host.hpp"

// What run_monitor returns.
enum MonitorResult : int {
    monitor_ended = 0,    // -h, a set-up that ended, no network layer, the loop's end
    monitor_failed = -1,  // a bad command line, or the capture or the log could not go on
};

// The process's exit status for run_monitor's result: -1 becomes 255.
constexpr int exit_status_of(MonitorResult result) {
    return result == monitor_failed ? 255 : 0;
}

// Starts the network layer (Windows Sockets 2.2 on Windows) and gives its two
// texts in `start`. False, after printing the failure message, when it
// cannot be had.
bool start_winsock(NetworkStart* start, ConsoleEncoding encoding);

// Returns monitor_ended or monitor_failed; a stop signal ends the process as
// that signal would, after the receive loop's last line. Japanese text goes
// to the console in `encoding`.
MonitorResult run_monitor(int argc, char** argv, ConsoleEncoding encoding);
