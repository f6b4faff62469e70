// pktwatch: watch the IPv4 traffic of one local interface.
#include "config/console_text.hpp"
#include "monitor/run_monitor.hpp"

int main(int argc, char** argv) {
    console_encoding = platform_console_init();
    const int status = run_monitor(argc, argv);
    return status == -1 ? 255 : status;
}
