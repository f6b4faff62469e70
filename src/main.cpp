// pktwatch: watch the IPv4 traffic of one local interface.
#include <cstdio>

#include "config/console_text.hpp"
#include "monitor/run_monitor.hpp"

int main(int argc, char** argv) {
    // Standard output goes out one whole account at a time: the monitor
    // flushes it after every datagram and the dialogue before every answer, so
    // a buffer larger than the longest account (detail view and dump, over
    // 8 KB) makes each account one write, which a stop cannot cut.
    static char stdout_buffer[64 * 1024];
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

    console_encoding = platform_console_init();
    const int status = run_monitor(argc, argv);
    return status == -1 ? 255 : status;
}
