// Stop signals and broken pipes on Linux (signal(7)): the handler only keeps
// the signal's number; the receive loop looks at it between datagrams.
#include <signal.h>
#include <unistd.h>

#include "platform/process.hpp"

namespace {

volatile sig_atomic_t stop_signal = 0;

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: a flag, or, on a second stop, the default action again
// and the signal once more.
void on_stop_signal(int signal_number) {
    if (stop_signal != 0) {
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigaction(signal_number, &default_action, nullptr);
        raise(signal_number);
        return;
    }
    stop_signal = signal_number;
}

}  // namespace

void platform_ignore_broken_pipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

void platform_catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    // Writes restart after the handler, so an account is never cut by it; a
    // wait for datagrams (poll) returns, and the loop sees the flag.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : stop_signals) {
        // A signal ignored from the start stays ignored (nohup, a background
        // job of a shell without job control).
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal_number, &action, nullptr);
    }
}

int platform_stop_signal() {
    return stop_signal;
}

void platform_end_by_signal(int signal_number) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal_number, &default_action, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends the process
}
