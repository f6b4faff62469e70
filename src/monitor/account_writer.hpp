// The accounts' way out: the log (or standard output without one) and the
// capture file that keeps the shown datagrams. Each account is written whole:
// the stream's buffer is larger than the longest account, and is written out
// before it could take part of one. While more datagrams are waiting their
// accounts are gathered and written together, never held longer than
// hold_limit_ns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "capture_file/capture_file.hpp"
#include "config/options.hpp"
#include "console/console_text.hpp"
#include "monitor/datagram_source.hpp"
#include "monitor/local_clock.hpp"
#include "net/packet.hpp"
#include "platform/output_file.hpp"

// The buffer of the log and of standard output: larger than the longest
// account (the detail view with the dump of a 2000-byte datagram, under
// 9 KB), so that a write never holds part of one.
inline constexpr std::size_t account_buffer_size = 64 * 1024;

// The longest an account waits in a buffer while others are gathered.
inline constexpr std::int64_t hold_limit_ns = 10'000'000;

struct AccountWriter {
    Console console;         // its stream takes the accounts when there is no log
    std::FILE* stream;       // the log, or the console's stream
    const char* log_path;    // nullptr: no log
    CaptureFileWriter save;  // the capture file being saved...
    const char* save_path;   // ...when this is not nullptr
    bool save_failed;        // a write to it failed, and a line said so
    bool detail;
    bool dump;
    std::size_t limit;           // the most bytes one account takes in these views
    std::size_t pending;         // at most this many bytes wait in the stream's buffer
    bool holding;                // accounts wait to be written out...
    std::int64_t held_since_ns;  // ...the oldest since this clock reading
    LocalClock clock;
    std::uint64_t written;  // accounts written
    FileInUse in_use[2];    // files an output must not be: the input, the log
    int in_use_count;
    char log_buffer[account_buffer_size];
};

// The accounts of `options`'s views, to the console's stream until a log is
// opened.
void start_accounts(AccountWriter* writer, const MonitorOptions& options, const Console& console);

// Keeps the outputs from being the file `identity` (`what` says which it is):
// the capture file being read.
void keep_outputs_from(AccountWriter* writer, FileIdentity identity, const char* what);

// Opens the log (`path` must stay valid for the run) and writes the options
// report into it. False, after the lines saying why, when it cannot be
// opened or written.
bool open_log(AccountWriter* writer, const char* path, const MonitorOptions& options);

// Opens the capture file the shown datagrams are kept in. False, after a line
// saying why, when it cannot be.
bool open_saved_capture(AccountWriter* writer, const char* path);

// The same on `file`, already open for writing, which belongs to the writer
// from this call on, whatever the result (open_save_file); `path` names it in
// the lines and must stay valid for the run.
bool open_saved_capture_on(AccountWriter* writer, std::FILE* file, const char* path);

// Writes the account of one shown datagram, taken at `now_ns`, and keeps the
// datagram in the saved capture. False, after a line saying why, when it
// could not be written.
bool write_account(AccountWriter* writer, const PacketBuffer& packet, const Datagram& datagram,
                   std::int64_t now_ns);

// True when the oldest account held has waited hold_limit_ns at `now_ns`.
bool hold_is_over(const AccountWriter& writer, std::int64_t now_ns);

// Writes out every account held, and the saved capture's records. False,
// after a line saying why, when they did not get out (a full disk, a closed
// stream, a reader gone): without that line they would be lost in silence.
bool write_out_accounts(AccountWriter* writer);

// Writes out and closes the saved capture; false, after a line saying why,
// when it could not be written.
bool close_saved_capture(AccountWriter* writer);
