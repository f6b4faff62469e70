// Where the receive loop's datagrams come from: a live capture or a capture
// file, behind one operation ("the next datagram, or idle, end, failed,
// gone"), so that the loop never asks which it has. A test gives a source of
// its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture_file/capture_file.hpp"
#include "net/clock.hpp"
#include "net/packet.hpp"
#include "platform/capture.hpp"

// What a source says of the datagram it put in the buffer.
struct Datagram {
    std::uint32_t original_length;  // its length before any cut
    bool stamped;                   // the source gave it a time stamp...
    WallClock stamp;                // ...this one; else it takes the loop's clock
};

enum class SourceResult {
    datagram,  // the buffer holds the next datagram
    idle,      // none within the wait (a failed receive and a skipped frame count as none)
    end,       // no more: the capture file is at its end
    failed,    // the source cannot go on (a corrupt capture file); the reason says why
    gone,      // the interface went away; the reason says which
};

struct DatagramSource {
    // Puts the next datagram in `packet` (its bytes, and its length, 1 to
    // 2000; the bytes beyond it may be written too), waiting at most `wait_ms`
    // milliseconds where the source can wait; the reason, for failed and
    // gone, in `reason` (`size` bytes).
    SourceResult (*next)(void* state, PacketBuffer* packet, Datagram* datagram, int wait_ms,
                         char* reason, std::size_t size);
    // What the kernel dropped, for a source that has a kernel.
    CaptureDrops (*drops)(void* state);
    void* state;
    // How many bytes of the buffer the last `next` may have written.
    std::size_t dirty;
};

DatagramSource live_source(Capture* capture);
DatagramSource file_source(CaptureFileReader* reader);

// The source's next datagram, with the buffer zero beyond its length (only
// what the last one wrote is cleared).
SourceResult next_datagram(DatagramSource* source, PacketBuffer* packet, Datagram* datagram,
                           int wait_ms, char* reason, std::size_t size);
