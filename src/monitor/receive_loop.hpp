// The receive loop: every datagram the capture hands on goes through the
// filter and, when it passes, into its account, written whole and in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/options.hpp"
#include "net/capture_filter.hpp"
#include "platform/capture_file.hpp"
#include "platform/platform.hpp"

// The buffer of the log and of standard output: larger than the longest
// account (the detail view with the dump of a 2000-byte datagram, under
// 9 KB), so that a write never holds part of one.
inline constexpr std::size_t account_buffer_size = 64 * 1024;

// What the loop counted, for the summary it prints when it stops.
struct LoopCounts {
    std::uint64_t received;        // datagrams the capture handed on
    std::uint64_t shown;           // accounts written
    std::uint64_t filtered_out;    // left out by the filter
    std::uint64_t echoes_skipped;  // console echoes the console could not take in time
};

// Where the datagrams come from: the capture socket, or a capture file.
struct DatagramSource {
    CaptureSocket* capture;   // nullptr when reading a file
    CaptureFileReader* file;  // nullptr when capturing
};

// Where the accounts go: the log file, or standard output when there is none;
// and the capture file that keeps the shown datagrams, if any.
struct AccountOutput {
    std::FILE* log;           // nullptr: no log file
    const char* log_path;     // for messages
    CaptureFileWriter* save;  // nullptr: none
    const char* save_path;    // for messages
};

// Writes out what `stream` holds: the log named `log_path`, or standard
// output when that is nullptr. False, after a line on standard error saying
// why, when the text did not get out (a full disk, a closed stream, a reader
// gone): without that line the accounts would be lost in silence.
bool write_out(std::FILE* stream, const char* log_path);

// Receives, filters and writes accounts until a stop signal (then the
// process ends as that signal ends it, after the summary), the end of the
// capture file or the count of accounts asked for (monitor_ended, after the
// summary), or a write that fails, a bad record or the interface going away
// (monitor_failed, after a line saying why).
int run_receive_loop(const DatagramSource& source, const MonitorOptions& options,
                     const CaptureFilter& filter, const AccountOutput& output);
