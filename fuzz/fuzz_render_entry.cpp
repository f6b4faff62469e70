// Every renderer and the packet filter over one arbitrary datagram, with an
// arbitrary received length, in a zeroed receive buffer as the capture loop
// gives it. Checks that the filter decides as its address-range and port rules
// say, that the text written holds only printable ASCII, tabs and line ends
// (packet bytes never reach the terminal raw), and that the hex dump has one
// row per 20 received bytes.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/options.hpp"
#include "fuzz_entries.hpp"
#include "fuzz_support.hpp"
#include "net/capture_filter.hpp"
#include "net/packet.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace {

// Input layout: mode (1), length (4, little-endian), filter address (4, in
// address order), filter width (4, little-endian), filter port (2,
// little-endian), then the datagram.
constexpr std::size_t header_size = 15;

// Received lengths at and around every bound the renderers care about.
constexpr int boundary_lengths[] = {
    INT_MIN, INT_MIN + 1, -2001, -20,  -1,   0,    1,    2,    19,    20,          21,
    40,      41,          1980,  1981, 1999, 2000, 2001, 2020, 65535, INT_MAX - 1, INT_MAX,
};

std::uint32_t little_endian_u32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

int received_length(std::uint8_t mode, std::uint32_t raw, std::size_t datagram_size) {
    switch (mode & 3u) {
        case 0:  // what the receive returned for this datagram
            return static_cast<int>(datagram_size);
        case 1:  // any 32-bit count, negative ones included
            return static_cast<int>(raw);
        case 2:  // any count the buffer can hold, whatever the datagram's size
            return static_cast<int>(raw % (packet_buffer_size + 1));
        default:
            return boundary_lengths[raw % (sizeof boundary_lengths / sizeof boundary_lengths[0])];
    }
}

// The filter's rules, written out plainly to compare packet_passes_filter with.
bool expected_to_pass(const MonitorOptions& options, PacketBytes packet, int length) {
    bool passes = true;
    if (options.filter_address != 0) {
        const std::uint32_t low = address_number(options.filter_address);
        const std::uint32_t high = low + options.filter_width;
        const std::uint32_t source = read_be32<packet_offset::source_address>(packet);
        const std::uint32_t destination = read_be32<packet_offset::destination_address>(packet);
        passes = (low <= source && source <= high) || (low <= destination && destination <= high);
    }
    if (options.filter_port != 0) {
        // The ports follow a header of 4 x IHL bytes, when that is 20 to
        // `length`; otherwise a header of 20.
        const int header = (packet[0] & 0x0F) * 4;
        const int at = header >= 20 && header <= length ? header : 20;
        const int source = packet[at] << 8 | packet[at + 1];
        const int destination = packet[at + 2] << 8 | packet[at + 3];
        passes = passes && (source == options.filter_port || destination == options.filter_port);
    }
    return passes;
}

constexpr LocalTime fixed_time{6, 11, 31, 23, 59, 58, 999};

// Where the renderers write: a temporary file reused by every input, so the
// text can be read back and checked.
std::FILE* render_stream() {
    static std::FILE* const stream = [] {
        std::FILE* file = test_support::temporary_stream();
        FUZZ_CHECK(file != nullptr);
        return file;
    }();
    return stream;
}

// The longest text one input can give is about 10 KB (the detail view, the
// echo, the summary and a 100-row dump); anything near this bound is a fault.
constexpr long text_limit = 64 * 1024;
char text[text_limit];

bool printable(unsigned char c) {
    return (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t';
}

}  // namespace

int fuzz_render_one(const std::uint8_t* data, std::size_t size) {
    std::uint8_t header[header_size] = {};
    if (size > 0) {
        std::memcpy(header, data, size < header_size ? size : header_size);
    }
    const std::uint8_t* datagram = size > header_size ? data + header_size : nullptr;
    std::size_t datagram_size = size > header_size ? size - header_size : 0;
    if (datagram_size > packet_buffer_size) {
        datagram_size = packet_buffer_size;
    }

    static PacketBuffer buffer;
    std::memset(buffer.bytes, 0, sizeof buffer.bytes);
    if (datagram_size > 0) {
        std::memcpy(buffer.bytes, datagram, datagram_size);
    }
    buffer.length = received_length(header[0], little_endian_u32(header + 1), datagram_size);

    MonitorOptions options{};
    std::memcpy(&options.filter_address, header + 5, sizeof options.filter_address);
    options.filter_width = little_endian_u32(header + 9);
    options.filter_port = static_cast<std::uint16_t>(header[13] | header[14] << 8);
    options.show_detail = (header[0] >> 2) & 1u;
    options.show_dump = (header[0] >> 3) & 1u;

    FUZZ_CHECK(packet_passes_filter(capture_filter_of(options), buffer.bytes, buffer.length) ==
               expected_to_pass(options, buffer.bytes, buffer.length));

    std::FILE* out = render_stream();
    std::rewind(out);
    print_summary(out, buffer.bytes, buffer.length, fixed_time);
    print_detail(out, buffer.bytes, buffer.length, fixed_time);
    print_console_echo(out, buffer.bytes, buffer.length);
    const long before_dump = std::ftell(out);
    print_hex_dump(out, buffer.bytes, buffer.length);
    const long written = std::ftell(out);

    FUZZ_CHECK(before_dump >= 0 && written >= before_dump && written < text_limit);
    if (buffer.length >= 1 && buffer.length <= packet_buffer_size) {
        // A line end, then rows of 76 characters and a line end each.
        const long rows = (buffer.length + 19) / 20;
        FUZZ_CHECK(written - before_dump == 1 + rows * 77);
    }

    std::rewind(out);
    FUZZ_CHECK(std::fread(text, 1, static_cast<std::size_t>(written), out) ==
               static_cast<std::size_t>(written));
    for (long i = 0; i < written; ++i) {
        FUZZ_CHECK(printable(static_cast<unsigned char>(text[i])));
    }
    return 0;
}
