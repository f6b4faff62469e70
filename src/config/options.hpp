// The options record, the command line, the usage text and the options report.
#pragma once

#include <cstdint>
#include <cstdio>

#include "console/console_text.hpp"
#include "net/capture_filter.hpp"
#include "platform/host.hpp"

inline constexpr int log_path_size = 260;
// The capture files of --read and --save: the same room as the log's name.
inline constexpr int capture_path_size = log_path_size;
// The user name of --user.
inline constexpr int user_name_size = 256;

struct MonitorOptions {
    std::uint32_t listen_address;  // network byte order
    std::uint8_t show_detail;      // 0/1
    std::uint8_t show_dump;        // 0/1
    std::uint32_t filter_address;  // network byte order; 0 = no address filter
    std::uint32_t filter_width;    // addresses in the range minus one
    std::uint16_t filter_port;     // 0 = no port filter
    char log_path[log_path_size];  // empty = no log file

    // The long options; not in the options report.
    char read_path[capture_path_size];  // --read: a capture file instead of a live interface
    char save_path[capture_path_size];  // --save: the capture file the shown datagrams go to
    std::uint64_t count;                // --count: datagrams to show, then end; 0 = no end
    char user_name[user_name_size];     // --user: whom the monitor runs as once capturing
};

// The local addresses found once at start-up, and how the lookup went.
struct LocalAddresses {
    LocalAddressStatus status;
    LocalAddressList list;
};

// How many of `found`'s addresses can be used (at most the list's room, 0
// when the lookup failed); prints the failure's message to `out`.
int usable_local_addresses(const LocalAddresses& found, const Console& out);

// The first local address, or 0 (after printing why) when there is none.
std::uint32_t default_local_address(const LocalAddresses& found, const Console& out);

// A decimal value read like atoi: leading white space, an optional sign,
// digits up to the first non-digit, accumulated modulo 2^32.
std::uint32_t decimal_value(const char* text);

// The filter the options ask for, built once.
constexpr CaptureFilter capture_filter_of(const MonitorOptions& options) {
    return make_capture_filter(options.filter_address, options.filter_width, options.filter_port);
}

// What parse_command_line and run_setup_dialogue return.
enum SetUpResult : int {
    set_up_done = 1,     // the options are filled: monitor
    set_up_usage = 0,    // -h, --help, --version: printed, end
    set_up_failed = -1,  // a bad value, or no address chosen: end
};

// The largest --count.
inline constexpr std::uint64_t max_count = std::uint64_t{1} << 63;

// set_up_done, set_up_usage (-h, --help, --version) or set_up_failed (a bad
// value, after its message on `out`; an unknown long option, after a failure
// line on `out.errors`). The options are in command_line.cpp's table.
SetUpResult parse_command_line(MonitorOptions& options, int argc, const char* const* argv,
                               const Console& out);

// The usage text: printed at every start, and by -h.
void print_usage(std::FILE* stream = stdout);
// --help: the usage text, then a line for each long option.
void print_help(std::FILE* stream);

// "pktwatch VERSION\n". Asked for alone (`pktwatch --version`), it is all the
// program prints: version_only tells.
void print_version(std::FILE* stream);
bool version_only(int argc, const char* const* argv);
void print_options(std::FILE* stream, const MonitorOptions& options);
