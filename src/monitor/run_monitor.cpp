// The program's main routine: start-up in a fixed order, then the receive
// loop.
#include "monitor/run_monitor.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/dialogue.hpp"
#include "config/options.hpp"
#include "console/console_text.hpp"
#include "console/messages.hpp"
#include "monitor/receive_loop.hpp"
#include "net/capture_filter.hpp"
#include "platform/capture_file.hpp"

namespace {

constexpr std::uint16_t sockets_layer_version = 0x0202;

// After one of the start-up failure lines: the system's reason on standard
// error, with what to do when it was a lack of privilege.
void report_capture_error(const char* what, const char* program) {
    const PlatformError error = platform_last_error();
    std::fflush(stdout);
    if (error.permission_denied) {
        std::fprintf(stderr, "pktwatch: %s: %s (%s %s)\n", what, error.text, error.privilege_hint,
                     program);
    } else {
        std::fprintf(stderr, "pktwatch: %s: %s\n", what, error.text);
    }
}

}  // namespace

int start_winsock(SocketsLayerInfo* info, ConsoleEncoding encoding) {
    if (platform_startup(sockets_layer_version, info) != 0) {
        console_text(Console{stdout, encoding}, msg_winsock_required);
        platform_cleanup();
        return 0;
    }
    return 1;
}

int run_monitor(int argc, char** argv, ConsoleEncoding encoding) {
    const Console console{stdout, encoding};
    // A console reader that goes away makes a write fail (and the accounts
    // say so or go on into the log) instead of ending the process unheard.
    platform_ignore_broken_pipes();
    if (version_only(argc, argv)) {
        print_version(stdout);
        return monitor_ended;
    }
    print_usage(stdout);

    SocketsLayerInfo sockets_layer{};
    if (start_winsock(&sockets_layer, encoding) == 0) {
        std::fputs("WSAStartup failed.", stdout);
        return monitor_ended;
    }
    std::printf("Description\t:%s\r\n", sockets_layer.description);
    std::printf("Systemstatus\t:%s\r\n", sockets_layer.system_status);
    std::atexit(platform_cleanup);

    LocalAddresses local{};
    local.status = platform_local_addresses(&local.list);

    MonitorOptions options{};
    options.listen_address = default_local_address(local, console);
    const SetUpResult set_up = argc >= 2 ? parse_command_line(options, argc, argv, console)
                                         : run_setup_dialogue(options, local, stdin, console);
    if (set_up != set_up_done) {
        // A bad command line is a failure; a dialogue that could not finish
        // is not.
        return set_up == set_up_failed && argc >= 2 ? monitor_failed : monitor_ended;
    }
    if ((options.read_path[0] != '\0' || options.save_path[0] != '\0') &&
        !platform_capture_files_supported()) {
        std::fflush(stdout);
        std::fputs("pktwatch: this build cannot read or write capture files (--read, --save)\n",
                   stderr);
        return monitor_failed;
    }
    const CaptureFilter filter = capture_filter_of(options);
    const char* program = argc >= 1 && argv[0] != nullptr ? argv[0] : "pktwatch";
    char reason[512];

    // A stored capture takes the place of the interface: no socket, and so
    // no privilege to start with.
    CaptureFileReader file{};
    CaptureSocket capture{};
    const bool reading = options.read_path[0] != '\0';
    if (reading) {
        if (!platform_open_capture_file(&file, options.read_path, reason, sizeof reason)) {
            std::fflush(stdout);
            std::fprintf(stderr, "pktwatch: %s: %s\n", options.read_path, reason);
            return monitor_failed;
        }
    } else {
        if (!platform_open_capture(&capture)) {
            std::fputs("::socket() failed.", stdout);
            report_capture_error("cannot open the capture socket", program);
            return monitor_failed;
        }
        if (!platform_bind_capture(&capture, options.listen_address)) {
            std::fflush(stdout);  // what came before reaches the console first
            std::fputs("::bind() error.\n", stderr);
            const AddressBytes a = address_bytes(options.listen_address);
            char what[64];
            std::snprintf(what, sizeof what, "cannot bind to %u.%u.%u.%u", a.byte[0], a.byte[1],
                          a.byte[2], a.byte[3]);
            report_capture_error(what, program);
            return monitor_failed;
        }
        if (!platform_receive_all(&capture, filter)) {
            std::fputs("::ioctlsocket() error.\n", stdout);
            report_capture_error("cannot switch on receive-all", program);
            return monitor_failed;
        }
    }
    // The socket is all that needed privileges: they are given up before
    // anything else, the log file included, is touched.
    if (!platform_drop_privileges(options.user_name[0] != '\0' ? options.user_name : nullptr,
                                  reason, sizeof reason)) {
        std::fflush(stdout);
        std::fprintf(stderr, "pktwatch: cannot give up privileges: %s\n", reason);
        return monitor_failed;
    }
    if (!reading) {
        std::fputs("Listen start...\n\n", stdout);
    }

    std::FILE* log = nullptr;
    if (options.log_path[0] != '\0') {
        // Seen before the open, which waits for a reader on a FIFO.
        std::fflush(stdout);
        log = platform_open_log_file(options.log_path, reason, sizeof reason);
        if (log == nullptr) {
            console_text(console, msg_log_open_failed);
            std::fflush(stdout);
            std::fprintf(stderr, "pktwatch: log file %s: %s\n", options.log_path, reason);
            return monitor_failed;
        }
        static char log_buffer[account_buffer_size];
        std::setvbuf(log, log_buffer, _IOFBF, sizeof log_buffer);
        print_options(log, options);
        if (!write_out(log, options.log_path)) {
            return monitor_failed;
        }
    }
    CaptureFileWriter save{};
    if (options.save_path[0] != '\0') {
        std::FILE* save_file = platform_open_log_file(options.save_path, reason, sizeof reason);
        if (save_file == nullptr ||
            !platform_open_save_file(&save, save_file, reason, sizeof reason)) {
            std::fflush(stdout);
            std::fprintf(stderr, "pktwatch: capture file %s: %s\n", options.save_path, reason);
            return monitor_failed;
        }
    }
    if (log == nullptr && !write_out(stdout, nullptr)) {
        return monitor_failed;
    }
    std::fflush(stdout);

    platform_catch_stop_signals();
    const int result = run_receive_loop(
        DatagramSource{reading ? nullptr : &capture, reading ? &file : nullptr}, options, filter,
        AccountOutput{log, options.log_path, options.save_path[0] != '\0' ? &save : nullptr,
                      options.save_path});
    if (reading) {
        platform_close_capture_file(&file);
    }
    if (options.save_path[0] != '\0' && !platform_close_save_file(&save) &&
        result != monitor_failed) {
        std::fprintf(stderr, "pktwatch: capture file %s: cannot write it\n", options.save_path);
        return monitor_failed;
    }
    return result;
}
