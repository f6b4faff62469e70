// The capture: every IPv4 datagram one local interface receives or sends,
// each from its IPv4 header on, behind a handle whose state belongs to the
// backend.
#pragma once

#include <cstdint>

#include "net/capture_filter.hpp"

// An open capture; only the backend knows what it holds.
struct Capture;

// Which step of opening a capture failed, if one did: the socket, binding it
// to the listen address's interface, or configuring it (receive-all, buffers,
// the kernel's filter).
enum class CaptureOpen { opened, socket_failed, bind_failed, configure_failed };

// What opening a capture has to say besides its result.
struct CaptureReport {
    char reason[256];            // why the step failed, in the system's words
    bool permission_denied;      // the reason is a lack of privilege...
    const char* privilege_hint;  // ...and this says how to get it; the program's path follows
    char note[256];  // said once even though the capture opened; empty when there is nothing
};

// Opens a capture on the interface that holds `listen_address` (network byte
// order). Where the platform can, datagrams `filter` drops stay in the kernel.
// On success `*capture` is the open capture; on failure nothing is left open.
CaptureOpen platform_open_capture(std::uint32_t listen_address, const CaptureFilter& filter,
                                  Capture** capture, CaptureReport* report);

void platform_close_capture(Capture* capture);

// The interface's name, for messages; empty where the platform has none.
const char* platform_capture_interface(const Capture* capture);

enum class CaptureReceive {
    datagram,        // the buffer holds one datagram
    nothing,         // none within the wait, a frame skipped, or a signal
    failed,          // a receive that failed; the next one may work
    interface_gone,  // the interface no longer exists: none will come again
};

// What a receive put in the buffer.
struct Received {
    int length;  // bytes written, whatever the result: the datagram's, or a skipped frame's
    std::uint32_t original_length;  // the datagram's length before any cut
};

// Receives one IPv4 datagram into `buffer`, at most `capacity` bytes (a longer
// one is cut). Waits at most `wait_ms` milliseconds for one (-1: until one
// comes or a signal arrives); with 0 it takes only what is already waiting, as
// cheaply as the platform can.
CaptureReceive platform_receive(Capture* capture, unsigned char* buffer, int capacity, int wait_ms,
                                Received* received);

// What the kernel dropped since the capture started: datagrams it had no room
// for. `counted` is false where the platform cannot tell.
struct CaptureDrops {
    std::uint64_t dropped;
    bool counted;
};

CaptureDrops platform_capture_drops(Capture* capture);
