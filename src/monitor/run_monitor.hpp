// The program's main routine: start-up, then the endless receive loop.
#pragma once

#include "platform/platform.hpp"

// What run_monitor returns.
inline constexpr int monitor_ended = 0;    // -h, a set-up that ended, no sockets layer
inline constexpr int monitor_failed = -1;  // the capture or the log could not go on

// The process's exit status for run_monitor's result: -1 becomes 255.
constexpr int exit_status_of(int monitor_result) {
    return monitor_result == monitor_failed ? 255 : monitor_result;
}

// Starts the sockets layer (version 2.2). 1 on success, 0 on failure, after
// printing the failure message.
int start_winsock(SocketsLayerInfo* info, ConsoleEncoding encoding);

// Returns monitor_ended or monitor_failed; a stop signal ends the process
// from inside the receive loop. Japanese text goes to the console in
// `encoding`.
int run_monitor(int argc, char** argv, ConsoleEncoding encoding);
