// Shell commands for the tests that lean on system tools (ip, unshare,
// setcap): whether one succeeded and what it said, so that a test that cannot
// have what it needs skips with the tool's own reason. POSIX systems only.
#pragma once

#include <string>

namespace test_support {

struct CommandResult {
    bool succeeded = false;  // ended with status 0
    std::string output;      // standard output and error together, last line end removed
};

// Runs `command` with sh, its standard input from /dev/null.
CommandResult run_command(const std::string& command);

// Empty when this process may make a network namespace of its own with a
// veth pair in it (root, unshare and ip); else why not, in the tools' words.
std::string network_namespace_unavailable_reason();

}  // namespace test_support
