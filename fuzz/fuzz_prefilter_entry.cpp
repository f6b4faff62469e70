// The kernel prefilter against the monitor's own filter over one arbitrary
// frame and arbitrary options: the program, run in a small cBPF interpreter
// with the kernel's rules (a load outside the frame drops it), never drops a
// datagram the monitor would show, keeps exactly 2000 bytes of what it keeps,
// drops every frame the capture never hands on (not IPv4, or loopback's
// outgoing copy), and decides exactly as packet_passes_filter once the frame
// holds the bytes the filter reads (the ports after the header).
#include "fuzz_prefilter_entry.hpp"

#if defined(__linux__)

#include <linux/if_packet.h>

#include <cstring>

#include "../tests/platform/linux/cbpf_interpreter.hpp"
#include "fuzz_support.hpp"
#include "net/capture_filter.hpp"
#include "net/packet.hpp"
#include "platform/linux/prefilter.hpp"

namespace {

// Input layout: kind (1: bit 0 loopback, bits 1-3 EtherType choice, bits 4-6
// packet type), filter address (4, in address order), filter width (4,
// little-endian), filter port (2, little-endian), then the frame.
constexpr std::size_t header_size = 11;
constexpr std::uint16_t ethertype_ipv4 = 0x0800;
constexpr std::uint16_t ethertypes[8] = {
    ethertype_ipv4, ethertype_ipv4, ethertype_ipv4, ethertype_ipv4, 0x86DD, 0x0806, 0x0000, 0xFFFF};

}  // namespace

int fuzz_prefilter_one(const std::uint8_t* data, std::size_t size) {
    std::uint8_t header[header_size] = {};
    if (size > 0) {
        std::memcpy(header, data, size < header_size ? size : header_size);
    }
    const std::uint8_t* frame = size > header_size ? data + header_size : nullptr;
    const std::size_t frame_size = size > header_size ? size - header_size : 0;

    const bool loopback = (header[0] & 1u) != 0;
    const std::uint16_t protocol = ethertypes[(header[0] >> 1) & 7u];
    const std::uint8_t packet_type = static_cast<std::uint8_t>((header[0] >> 4) & 7u);
    std::uint32_t first_address = 0;
    std::memcpy(&first_address, header + 1, sizeof first_address);
    const std::uint32_t width = std::uint32_t{header[5]} | std::uint32_t{header[6]} << 8 |
                                std::uint32_t{header[7]} << 16 | std::uint32_t{header[8]} << 24;
    const CaptureFilter filter = make_capture_filter(
        first_address, width, static_cast<std::uint16_t>(header[9] | header[10] << 8));

    const PrefilterProgram program = build_prefilter(filter, loopback);
    FUZZ_CHECK(program.count > 0 && program.count <= prefilter_max_instructions);
    const std::uint32_t kept =
        run_cbpf(program.instruction, program.count,
                 CbpfFrame{frame, static_cast<std::uint32_t>(frame_size), protocol, packet_type});
    FUZZ_CHECK(kept == 0 || kept == std::uint32_t{packet_buffer_size});

    const bool handed_on =
        protocol == ethertype_ipv4 && !(loopback && packet_type == PACKET_OUTGOING);
    if (!handed_on) {
        FUZZ_CHECK(kept == 0);
        return 0;
    }

    static PacketBuffer buffer;
    std::memset(buffer.bytes, 0, sizeof buffer.bytes);
    const std::size_t copied = frame_size < sizeof buffer.bytes ? frame_size : sizeof buffer.bytes;
    if (copied > 0) {
        std::memcpy(buffer.bytes, frame, copied);
    }
    const int length = static_cast<int>(copied);
    const bool shows = packet_passes_filter(filter, buffer.bytes, length);
    if (shows) {
        FUZZ_CHECK(kept == std::uint32_t{packet_buffer_size});
    } else if (copied >= transport_offset(buffer.bytes, length).value + 4) {
        FUZZ_CHECK(kept == 0);
    }
    return 0;
}

#else

// The prefilter belongs to the Linux capture socket; elsewhere there is
// nothing to run.
int fuzz_prefilter_one(const std::uint8_t*, std::size_t) {
    return 0;
}

#endif
