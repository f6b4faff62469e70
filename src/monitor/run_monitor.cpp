// The program's main routine: start-up in a fixed order, then the receive
// loop.
#include "monitor/run_monitor.hpp"

#include <cstdio>
#include <cstdlib>

#include "capture_file/capture_file.hpp"
#include "config/dialogue.hpp"
#include "config/options.hpp"
#include "console/console_text.hpp"
#include "console/failure.hpp"
#include "console/messages.hpp"
#include "monitor/account_writer.hpp"
#include "monitor/datagram_source.hpp"
#include "monitor/receive_loop.hpp"
#include "net/address.hpp"
#include "net/link_frame.hpp"
#include "platform/capture.hpp"
#include "platform/console.hpp"
#include "platform/host.hpp"
#include "platform/output_file.hpp"
#include "platform/process.hpp"

namespace {

// The historical line of each step of opening the capture that can fail,
// then on standard error what failed and the system's reason, with what to
// do when it was a lack of privilege.
void report_capture_failure(CaptureOpen step, const CaptureReport& report,
                            const MonitorOptions& options, const char* program,
                            const Console& console) {
    char what[64];
    switch (step) {
        case CaptureOpen::socket_failed:
            std::fputs("::socket() failed.", stdout);
            // The line keeps no line end on standard output; where standard
            // error shows on the same terminal, the reason starts a line of
            // its own there.
            if (platform_same_terminal(stdout, console.errors)) {
                std::fflush(stdout);
                std::fputc('\n', console.errors);
            }
            std::snprintf(what, sizeof what, "cannot open the capture socket");
            break;
        case CaptureOpen::bind_failed: {
            std::fflush(stdout);  // what came before reaches the console first
            std::fputs("::bind() error.\n", stderr);
            const AddressBytes a = address_bytes(options.listen_address);
            std::snprintf(what, sizeof what, "cannot bind to %u.%u.%u.%u", a.byte[0], a.byte[1],
                          a.byte[2], a.byte[3]);
            break;
        }
        case CaptureOpen::configure_failed:
        case CaptureOpen::opened:
            std::fputs("::ioctlsocket() error.\n", stdout);
            std::snprintf(what, sizeof what, "cannot switch on receive-all");
            break;
    }
    if (report.permission_denied) {
        report_failure_on(console, "%s: %s (%s %s)", what, report.reason, report.privilege_hint,
                          program);
    } else {
        report_failure_on(console, "%s: %s", what, report.reason);
    }
}

// Becomes the user asked for (or the one who started the monitor through
// sudo) without any capability; false, after a line saying why, when that
// cannot be done.
bool give_up_privileges(const MonitorOptions& options, const Console& console) {
    char reason[512];
    if (!platform_drop_privileges(options.user_name[0] != '\0' ? options.user_name : nullptr,
                                  reason, sizeof reason)) {
        report_failure_on(console, "cannot give up privileges: %s", reason);
        return false;
    }
    return true;
}

// The accounts, the log's buffer among them: one for the run.
AccountWriter writer;

// With the source open: gives up the privileges (a live capture needed them
// to open), opens the outputs, and runs the receive loop; how it ended.
LoopEnd watch(DatagramSource* source, const MonitorOptions& options, const Console& console,
              bool reading) {
    if (!reading) {
        if (!give_up_privileges(options, console)) {
            return LoopEnd{true, 0};
        }
        std::fputs("Listen start...\n\n", stdout);
    }
    start_accounts(&writer, options, console);
    if (reading) {
        keep_outputs_from(&writer, platform_file_identity(options.read_path),
                          "the capture file being read");
    }
    if ((options.log_path[0] != '\0' && !open_log(&writer, options.log_path, options)) ||
        (options.save_path[0] != '\0' && !open_saved_capture(&writer, options.save_path)) ||
        !write_out_accounts(&writer)) {
        close_saved_capture(&writer);
        return LoopEnd{true, 0};
    }
    std::fflush(stdout);

    platform_catch_stop_signals();
    LoopEnd end = run_receive_loop(source, options, &writer, platform_stream_kind(stdout));
    if (!close_saved_capture(&writer)) {
        end.failed = true;
    }
    return end;
}

}  // namespace

bool start_winsock(NetworkStart* start, ConsoleEncoding encoding) {
    *start = platform_start_network();
    if (!start->started) {
        console_text(Console{stdout, encoding}, msg_winsock_required);
        platform_stop_network();
        return false;
    }
    return true;
}

MonitorResult run_monitor(int argc, char** argv, ConsoleEncoding encoding) {
    const Console console{stdout, encoding};
    // A console reader that goes away makes a write fail (and the accounts
    // say so or go on into the log) instead of ending the process unheard.
    platform_ignore_broken_pipes();
    if (version_only(argc, argv)) {
        print_version(stdout);
        return monitor_ended;
    }
    print_usage(stdout);

    NetworkStart network{};
    if (!start_winsock(&network, encoding)) {
        std::fputs("WSAStartup failed.", stdout);
        return monitor_ended;
    }
    std::printf("Description\t:%s\r\n", network.description);
    std::printf("Systemstatus\t:%s\r\n", network.status);
    std::atexit(platform_stop_network);

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
        !capture_files_supported()) {
        report_failure_on(console,
                          "this build cannot read or write capture files (--read, --save)");
        return monitor_failed;
    }
    const char* program = argc >= 1 && argv[0] != nullptr ? argv[0] : "pktwatch";

    // The capture is all that needs privileges: they are given up once it is
    // open, before anything else, the log file included, is touched. A
    // stored capture takes the place of the interface: no socket, so they are
    // given up first, and the file is read as the user the monitor becomes.
    CaptureFileReader file{};
    Capture* capture = nullptr;
    DatagramSource source{};
    const bool reading = options.read_path[0] != '\0';
    if (reading) {
        if (!give_up_privileges(options, console)) {
            return monitor_failed;
        }
        char reason[512];
        if (!open_capture_file(&file, options.read_path, reason, sizeof reason)) {
            report_failure_on(console, "%s: %s", options.read_path, reason);
            return monitor_failed;
        }
        if (!link_type_supported(file.link_type)) {
            report_failure_on(console,
                              "%s: link type %d is not one this program takes apart (raw IPv4, "
                              "Ethernet, Linux cooked capture, BSD loopback)",
                              options.read_path, file.link_type);
            close_capture_file(&file);
            return monitor_failed;
        }
        source = file_source(&file);
    } else {
        CaptureReport report{};
        const CaptureOpen opened = platform_open_capture(
            options.listen_address, capture_filter_of(options), &capture, &report);
        if (opened != CaptureOpen::opened) {
            report_capture_failure(opened, report, options, program, console);
            return monitor_failed;
        }
        if (report.note[0] != '\0') {
            report_note_on(console, "%s", report.note);
        }
        source = live_source(capture);
    }

    // From here the capture or the file is open: every way out closes it.
    const LoopEnd end = watch(&source, options, console, reading);
    if (reading) {
        close_capture_file(&file);
    } else {
        platform_close_capture(capture);
    }
    if (end.signal != 0) {
        platform_end_by_signal(end.signal);
    }
    return end.failed ? monitor_failed : monitor_ended;
}
