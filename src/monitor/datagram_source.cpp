// The two datagram sources of the monitor: the live capture and a capture
// file.
#include "monitor/datagram_source.hpp"

#include <cstdio>

namespace {

SourceResult next_from_capture(void* state, PacketBuffer* packet, Datagram* datagram, int wait_ms,
                               char* reason, std::size_t size) {
    Capture* const capture = static_cast<Capture*>(state);
    Received received{};
    const CaptureReceive result =
        platform_receive(capture, packet->bytes, packet_buffer_size, wait_ms, &received);
    packet->length = received.length;
    switch (result) {
        case CaptureReceive::datagram:
            *datagram = Datagram{received.original_length, false, WallClock{}};
            return SourceResult::datagram;
        case CaptureReceive::nothing:
        case CaptureReceive::failed:  // the next receive may work: the loop goes on
            return SourceResult::idle;
        case CaptureReceive::interface_gone:
            break;
    }
    const char* name = platform_capture_interface(capture);
    std::snprintf(reason, size, "the interface %s is gone",
                  name[0] != '\0' ? name : "being watched");
    return SourceResult::gone;
}

CaptureDrops drops_of_capture(void* state) {
    return platform_capture_drops(static_cast<Capture*>(state));
}

// Records without an IPv4 datagram are passed over here: the file has more
// at once, and the loop need not hear of them.
SourceResult next_from_file(void* state, PacketBuffer* packet, Datagram* datagram, int /*wait_ms*/,
                            char* reason, std::size_t size) {
    CaptureFileReader* const reader = static_cast<CaptureFileReader*>(state);
    char why[256];
    for (;;) {
        WallClock stamp{};
        switch (read_capture_file(reader, packet, &stamp, why, sizeof why)) {
            case CaptureFileRead::datagram:
                *datagram = Datagram{reader->original_length, true, stamp};
                return SourceResult::datagram;
            case CaptureFileRead::skipped:
                continue;
            case CaptureFileRead::end:
                return SourceResult::end;
            case CaptureFileRead::error:
                std::snprintf(reason, size, "%s: %s", reader->path, why);
                return SourceResult::failed;
        }
    }
}

// A capture file has no kernel to drop anything.
CaptureDrops drops_of_file(void* /*state*/) {
    return CaptureDrops{0, true};
}

}  // namespace

// More than the receive ring's 2,048 frames and the datagrams the socket's
// queue took before the ring was set up.
constexpr int capture_backlog = 4096;

DatagramSource live_source(Capture* capture) {
    return DatagramSource{next_from_capture, drops_of_capture, capture, packet_buffer_size,
                          capture_backlog};
}

DatagramSource file_source(CaptureFileReader* reader) {
    return DatagramSource{next_from_file, drops_of_file, reader, packet_buffer_size};
}
