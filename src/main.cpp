// pktwatch: watch the IPv4 traffic of one local interface.
#include <cstdio>

#include "monitor/account_writer.hpp"
#include "monitor/run_monitor.hpp"

int main(int argc, char** argv) {
    // Standard output goes out whole accounts at a time: the monitor flushes
    // it between accounts and the dialogue before every answer, so a buffer
    // larger than the longest account (detail view and dump, under 9 KB)
    // makes each write hold whole accounts, which a stop cannot cut.
    static char stdout_buffer[account_buffer_size];
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

    const ConsoleEncoding encoding = platform_console_init();
    return exit_status_of(run_monitor(argc, argv, encoding));
}
