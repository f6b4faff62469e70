// pktwatch: watch the IPv4 traffic of one local interface.
#include <cstdio>

#include "monitor/run_monitor.hpp"

int main(int argc, char** argv) {
    // Standard output goes out one whole account at a time: the monitor
    // flushes it after every datagram and the dialogue before every answer, so
    // a buffer larger than the longest account (detail view and dump, over
    // 8 KB) makes each account one write, which a stop cannot cut.
    static char stdout_buffer[64 * 1024];
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

    const ConsoleEncoding encoding = platform_console_init();
    return exit_status_of(run_monitor(argc, argv, encoding));
}
