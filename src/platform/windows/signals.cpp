// Stop signals on Windows: Ctrl-C, Ctrl-Break and termination through the C
// runtime's signal(); there are no broken-pipe signals to ignore.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/process.hpp"

namespace {

volatile std::sig_atomic_t stop_signal = 0;

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGBREAK};

void on_stop_signal(int signal_number) {
    if (stop_signal != 0) {
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    stop_signal = signal_number;
    // The runtime resets the handler before calling it: catch the next one.
    std::signal(signal_number, on_stop_signal);
}

}  // namespace

void platform_ignore_broken_pipes() {}

void platform_catch_stop_signals() {
    for (const int signal_number : stop_signals) {
        std::signal(signal_number, on_stop_signal);
    }
}

int platform_stop_signal() {
    return stop_signal;
}

void platform_end_by_signal(int signal_number) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    std::_Exit(3);  // what the runtime's default action for SIGINT gives
}
