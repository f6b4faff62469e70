// The program's main routine: start-up, then the endless receive loop.
#pragma once

#include "platform/platform.hpp"

// Starts the sockets layer (version 2.2). 1 on success, 0 on failure, after
// printing the failure message.
int start_winsock(SocketsLayerInfo* info);

// Returns the exit status: 0 or -1; while monitoring it never returns.
int run_monitor(int argc, char** argv);
