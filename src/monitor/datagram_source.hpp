// Where the receive loop's datagrams come from: a live capture or a capture
// file, behind one operation ("the next datagram, or idle, end, failed,
// gone"), so that the loop never asks which it has. A test gives a source of
// its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    // Puts the next datagram in `packet`, waiting at most `wait_ms`
    // milliseconds where the source can wait, and sets `packet->length` to
    // the bytes of the buffer it wrote, whatever the result: the datagram's
    // (1 to 2000), or those of what it skipped (0 when none). The reason,
    // for failed and gone, goes in `reason` (`size` bytes).
    SourceResult (*next)(void* state, PacketBuffer* packet, Datagram* datagram, int wait_ms,
                         char* reason, std::size_t size);
    // What the kernel dropped, for a source that has a kernel.
    CaptureDrops (*drops)(void* state);
    void* state;
    // How many bytes of the buffer the last `next` wrote.
    std::size_t dirty;
    // The most datagrams that can have come and be waiting in the source
    // (a capture's kernel buffers): those are still taken when a stop
    // comes. 0 for a source whose datagrams do not arrive (a file).
    int waiting_at_most = 0;
};

DatagramSource live_source(Capture* capture);
DatagramSource file_source(CaptureFileReader* reader);

// The source's next datagram, with the buffer zero beyond its length (only
// what the last call wrote is cleared).
inline SourceResult next_datagram(DatagramSource* source, PacketBuffer* packet, Datagram* datagram,
                                  int wait_ms, char* reason, std::size_t size) {
    std::memset(packet->bytes, 0, source->dirty);
    packet->length = 0;
    const SourceResult result =
        source->next(source->state, packet, datagram, wait_ms, reason, size);
    packet->length = clamp_packet_length(packet->length);
    source->dirty = static_cast<std::size_t>(packet->length);
    return result;
}
