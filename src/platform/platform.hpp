// The operations pktwatch needs from the operating system: the sockets layer,
// the capture socket, the local host's addresses, the clock and the console.
// One backend per platform implements them (src/platform/linux,
// src/platform/windows; the same file names on both sides) and CMake picks
// which one is built. This header is the whole contract: it includes no system
// header, and neither does any caller. It knows only the datagram layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "net/capture_filter.hpp"
#include "net/clock.hpp"

// --- Sockets layer -----------------------------------------------------------

// What the sockets layer says about itself once started (WSADATA's texts).
struct SocketsLayerInfo {
    char description[257];
    char system_status[129];
};

// Starts the sockets layer, asking for `version` (0x0202 for 2.2).
// Returns 0 on success, non-zero on failure, like WSAStartup.
int platform_startup(std::uint16_t version, SocketsLayerInfo* info);

// Stops the sockets layer; safe to register with atexit.
void platform_cleanup();

// --- Local host --------------------------------------------------------------

inline constexpr int max_local_addresses = 256;

// The local host's IPv4 addresses, network byte order, in the platform's order
// (on Linux non-loopback first, loopback last; on Windows the system's order).
// With more addresses than the list holds, the loopback addresses keep their
// room and `left_out` tells how many others did not fit.
struct LocalAddressList {
    std::uint32_t address[max_local_addresses];
    int count;
    int left_out;
};

enum class LocalAddressStatus {
    ok,                // the list is filled (it may be empty)
    host_name_failed,  // the host name could not be had, or was empty
    lookup_failed,     // the name was had, but its addresses were not
};

LocalAddressStatus platform_local_addresses(LocalAddressList* list);

// Dotted-quad text to an address in network byte order, with inet_addr's
// meaning: "0.0.0.0" gives 0, text that cannot be read gives 0xFFFFFFFF.
std::uint32_t platform_inet_addr(const char* text);

// --- Clock -------------------------------------------------------------------

// The wall clock now.
WallClock platform_wall_clock();

// `when` in the local time zone, its milliseconds included.
LocalTime platform_local_time(WallClock when);

// --- Console -----------------------------------------------------------------

enum class ConsoleEncoding {
    shift_jis,  // code page 932 bytes
    utf8,
};

// Prepares the console (locale and the like) and tells which encoding its
// Japanese text wants. Called once, at start-up.
ConsoleEncoding platform_console_init();

// Writes `utf8` (`length` bytes of UTF-8) to `stream` when the platform has a
// better way than bytes for it (a Windows console takes UTF-16). Returns false
// when the stream wants plain encoded bytes, so the caller writes them.
bool platform_write_console_text(std::FILE* stream, const char* utf8, std::size_t length);

// How many bytes `stream` takes now without making the program wait: 0 for a
// slow terminal or a pipe nobody reads, stream_room_unlimited for a file (and
// where the platform cannot tell, or the stream is in error, so that the write
// goes ahead and reports it).
inline constexpr std::size_t stream_room_unlimited = static_cast<std::size_t>(-1);
std::size_t platform_stream_room(std::FILE* stream);

// How `stream` takes writes, asked once: a file or a device that is not a
// terminal never makes the writer wait, so its room need not be asked before
// each write; the null device loses what is written to it anyway.
enum class StreamKind { may_wait, never_waits, discards };
StreamKind platform_stream_kind(std::FILE* stream);

// --- Signals -----------------------------------------------------------------

// A write to a pipe or socket whose reader went away fails with an error
// (EPIPE) instead of ending the process.
void platform_ignore_broken_pipes();

// Catches the stop signals (interrupt, termination, hang-up): the first one is
// kept for platform_stop_signal; a second one ends the process at once, as if
// nothing caught it.
void platform_catch_stop_signals();

// The stop signal that came, or 0 while none did.
int platform_stop_signal();

// Ends the process as the signal would have ended it, had it not been caught.
[[noreturn]] void platform_end_by_signal(int signal);

// --- Capture -----------------------------------------------------------------

struct CaptureSocket {
    std::intptr_t handle;
    int interface_index;
    bool loopback;
    char interface_name[64];  // for messages; empty where the platform has none
    // Where the kernel hands datagrams over in shared memory (Linux's receive
    // ring): the mapping, its size, its frames and the next one to read. Null
    // where each datagram takes a system call.
    unsigned char* ring;
    std::size_t ring_bytes;
    std::uint32_t frame_bytes;
    std::uint32_t frame_count;
    std::uint32_t next_frame;
    // The kernel's drop counters, summed here: it zeroes them at every read.
    std::uint64_t dropped;
    std::uint64_t freezes;
    // The last receive error said the network was down: the interface may be
    // going away, so an idle wait looks whether it still exists.
    bool network_down;
};

// Each returns true on success. On failure the reason is kept for
// platform_last_error.
bool platform_open_capture(CaptureSocket* capture);
bool platform_bind_capture(CaptureSocket* capture, std::uint32_t listen_address);
// Switches on receive-all; where the platform can, datagrams `filter` drops
// stay in the kernel.
bool platform_receive_all(CaptureSocket* capture, const CaptureFilter& filter);

// What platform_receive returns when it gives no datagram.
inline constexpr int receive_nothing = 0;  // none within the wait, a frame skipped, or a signal
inline constexpr int receive_failed = -1;  // a failed receive (reason kept); the loop goes on
inline constexpr int receive_interface_gone = -2;  // the interface no longer exists

// Receives one IPv4 datagram into `buffer`, at most `capacity` bytes (a longer
// one is cut; the bytes beyond the count are left as they were). Waits at most
// `wait_ms` milliseconds for one (-1: until one comes or a signal arrives).
// Returns its byte count, or one of the results above.
int platform_receive(CaptureSocket* capture, unsigned char* buffer, int capacity, int wait_ms);

// True when another datagram is already waiting, so that platform_receive
// would not wait; false when none is, or the platform cannot tell.
bool platform_datagram_waiting(const CaptureSocket* capture);

// Sleeps about `microseconds` without being woken by arriving datagrams (they
// wait in the capture's buffer meanwhile); does nothing where the platform's
// sleep is too coarse for that.
void platform_nap(int microseconds);

// What the kernel dropped since the capture started: datagrams it had no
// room for, and the times its receive ring froze. `counted` is false where
// the platform cannot tell.
struct CaptureDrops {
    std::uint64_t dropped;
    std::uint64_t freezes;
    bool counted;
};

CaptureDrops platform_capture_drops(CaptureSocket* capture);

// The system's reason for the last failed operation, as text, and whether it
// was a lack of privilege. `privilege_hint` says how to get the privilege; the
// program's path follows it.
struct PlatformError {
    char text[256];
    bool permission_denied;
    const char* privilege_hint;
};

PlatformError platform_last_error();

// --- Privileges and output files ----------------------------------------------

// Gives up what the capture socket needed, once it is bound and configured:
// switches to `user_name` (nullptr: the user who started the monitor through
// sudo, if it was; "root" or uid 0 stays root), then drops every capability
// and sets no_new_privs. False, with the reason in `reason` (`size` bytes),
// when that could not be done.
bool platform_drop_privileges(const char* user_name, char* reason, std::size_t size);

// Opens an output file (the log, a capture file being saved) for writing,
// created owner-only or truncated: never through a symbolic link as its last
// part, never a file that belongs to another user (a device is allowed), not
// passed on to programs the monitor would start. nullptr, with the reason in
// `reason` (`size` bytes), when it is refused or cannot be opened.
std::FILE* platform_open_log_file(const char* path, char* reason, std::size_t size);
