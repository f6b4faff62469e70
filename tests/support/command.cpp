// Shell commands for the tests.
#include "support/command.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace test_support {

CommandResult run_command(const std::string& command) {
    CommandResult result;
    std::fflush(nullptr);
    std::FILE* pipe = popen(("(" + command + ") </dev/null 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        result.output = std::string("popen: ") + std::strerror(errno);
        return result;
    }
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, count);
    }
    const int status = pclose(pipe);
    result.succeeded = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.output.empty() && result.output.back() == '\n') {
        result.output.pop_back();
    }
    return result;
}

std::string network_namespace_unavailable_reason() {
    if (geteuid() != 0) {
        return "not running as root: a network namespace needs root";
    }
    const std::string probe = "unshare --net ip link add pw0 type veth peer name pw1";
    const CommandResult made = run_command(probe);
    if (!made.succeeded) {
        return "cannot make a veth pair in a network namespace (" + probe +
               "): " + (made.output.empty() ? "no reason given" : made.output);
    }
    return {};
}

}  // namespace test_support
