// The kernel prefilter against packet_passes_filter: run in a small cBPF
// interpreter over random frames and options it must keep every datagram the
// monitor's filter passes and, where the datagram holds the fields it reads,
// drop the others; the kernel accepts every program it builds; and on a real
// packet socket on loopback it drops what was queued before, keeps matching
// datagrams once each, and cuts them to 2000 bytes.
#include "platform/linux/prefilter.hpp"
#include "support/bytes.hpp"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "cbpf_interpreter.hpp"
#include "net/capture_filter.hpp"
#include "net/packet.hpp"

namespace {

// The filter as the user gives it: first address, width and port.
struct FilterOptions {
    std::uint32_t filter_address;
    std::uint32_t filter_width;
    std::uint16_t filter_port;
};

CaptureFilter filter_of(const FilterOptions& options) {
    return make_capture_filter(options.filter_address, options.filter_width, options.filter_port);
}

constexpr std::uint16_t ethertype_ipv4 = 0x0800;

struct Frame {
    std::vector<std::uint8_t> bytes;
    std::uint16_t protocol;
    std::uint8_t packet_type;
};

std::uint32_t run_program(const PrefilterProgram& program, const Frame& frame) {
    return run_cbpf(program.instruction, program.count,
                    CbpfFrame{frame.bytes.data(), static_cast<std::uint32_t>(frame.bytes.size()),
                              frame.protocol, frame.packet_type});
}

// What the monitor decides for the frame: whether platform_receive hands it
// on, and then packet_passes_filter over the zero-filled receive buffer.
bool monitor_shows(const FilterOptions& options, bool loopback, const Frame& frame) {
    if (frame.protocol != ethertype_ipv4 || (loopback && frame.packet_type == PACKET_OUTGOING)) {
        return false;
    }
    PacketBuffer buffer{};
    const std::size_t kept =
        frame.bytes.size() < sizeof buffer.bytes ? frame.bytes.size() : sizeof buffer.bytes;
    if (kept > 0) {
        std::memcpy(buffer.bytes, frame.bytes.data(), kept);
    }
    return packet_passes_filter(filter_of(options), buffer.bytes, static_cast<int>(kept));
}

// Whether the frame holds every byte the monitor's filter reads: the
// addresses, and the ports after the header.
bool holds_the_fields(const Frame& frame) {
    PacketBuffer buffer{};
    const std::size_t kept = std::min(frame.bytes.size(), sizeof buffer.bytes);
    if (kept > 0) {
        std::memcpy(buffer.bytes, frame.bytes.data(), kept);
    }
    return kept >= transport_offset(buffer.bytes, static_cast<int>(kept)).value + 4;
}

using test_support::put_be16;
using test_support::put_be32;

// Random options with the cases that matter made likely: filters off, width
// 0, ranges that wrap past 255.255.255.255, the full range.
FilterOptions random_options(std::mt19937& random) {
    FilterOptions options{};
    std::uniform_int_distribution<std::uint32_t> any;
    switch (random() % 4) {
        case 0:
            options.filter_address = 0;
            break;
        case 1:  // near the top, so that some ranges wrap
            options.filter_address = network_order_address(0xFFFFFF00u | (any(random) & 0xFF));
            break;
        default:
            options.filter_address = network_order_address(any(random) | 1u);
            break;
    }
    switch (random() % 5) {
        case 0:
            options.filter_width = 0;
            break;
        case 1:
            options.filter_width = any(random) % 16;
            break;
        case 2:
            options.filter_width = 0xFFFFFFFFu - any(random) % 4;
            break;
        default:
            options.filter_width = any(random) % 0x01000000u;
            break;
    }
    options.filter_port = random() % 3 == 0 ? 0 : static_cast<std::uint16_t>(any(random) | 1u);
    return options;
}

// A random address, near the filter's range (inside, at its bounds, just
// outside) more often than not.
std::uint32_t address_for(const FilterOptions& options, std::mt19937& random) {
    const std::uint32_t low = address_number(options.filter_address);
    const std::uint32_t high = low + options.filter_width;
    switch (random() % 6) {
        case 0:
            return low;
        case 1:
            return high;
        case 2:
            return low - 1;
        case 3:
            return high + 1;
        case 4:
            return low + static_cast<std::uint32_t>(random()) % ((options.filter_width + 1u) | 1u);
        default:
            return static_cast<std::uint32_t>(random());
    }
}

Frame random_frame(const FilterOptions& options, std::size_t length, std::mt19937& random) {
    Frame frame;
    frame.bytes.resize(length);
    for (std::uint8_t& byte : frame.bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    constexpr std::uint8_t protocols[] = {1, 6, 17, 2, 47};
    if (length > 9) {
        frame.bytes[9] = protocols[random() % 5];
    }
    put_be32(frame.bytes, 12, address_for(options, random));
    put_be32(frame.bytes, 16, address_for(options, random));
    // Half of them with a header of 20 bytes, the others with any length
    // the first byte gives (options, or nonsense below 20).
    if (length > 0 && random() % 2 == 0) {
        frame.bytes[0] = 0x45;
    }
    if (length > 0 && random() % 2 == 0) {
        const std::size_t header = std::size_t{frame.bytes[0]} % 16 * 4;
        const std::size_t at = header >= 20 && header <= length ? header : 20;
        put_be16(frame.bytes, at + (random() % 2 == 0 ? 0 : 2), options.filter_port);
    }
    constexpr std::uint16_t ethertypes[] = {ethertype_ipv4, ethertype_ipv4, ethertype_ipv4,
                                            ethertype_ipv4, 0x86DD,         0x0806};
    frame.protocol = ethertypes[random() % 6];
    constexpr std::uint8_t packet_types[] = {PACKET_HOST, PACKET_HOST, PACKET_OUTGOING,
                                             PACKET_BROADCAST, PACKET_MULTICAST};
    frame.packet_type = packet_types[random() % 5];
    return frame;
}

TEST(Prefilter, NeverDropsWhatTheMonitorShowsAndDropsTheRestOnceTheFieldsAreThere) {
    std::mt19937 random(20261208);
    constexpr std::size_t long_lengths[] = {61, 100, 576, 1500, 1999, 2000, 2001, 4000, 65535};
    int shown = 0;
    int dropped_exactly = 0;
    int kept_short = 0;
    for (int round = 0; round < 1000; ++round) {
        const FilterOptions options = random_options(random);
        const bool loopback = round % 2 == 0;
        const PrefilterProgram program = build_prefilter(filter_of(options), loopback);
        for (std::size_t length = 0; length <= 60 + std::size(long_lengths); ++length) {
            const std::size_t size = length <= 60 ? length : long_lengths[length - 61];
            const Frame frame = random_frame(options, size, random);
            const std::uint32_t kept = run_program(program, frame);
            const bool shows = monitor_shows(options, loopback, frame);
            ASSERT_TRUE(kept == 0 || kept == std::uint32_t{packet_buffer_size}) << kept;
            if (shows) {
                ++shown;
                ASSERT_EQ(kept, std::uint32_t{packet_buffer_size})
                    << "dropped a datagram the monitor shows: length " << size << ", round "
                    << round;
            } else if (frame.protocol != ethertype_ipv4 ||
                       (loopback && frame.packet_type == PACKET_OUTGOING) ||
                       holds_the_fields(frame)) {
                ++dropped_exactly;
                ASSERT_EQ(kept, 0u)
                    << "kept a datagram the monitor drops: length " << size << ", round " << round;
            } else if (kept != 0) {
                ++kept_short;  // too short for the kernel to read: the monitor decides
            }
        }
    }
    // The generator reaches every outcome often.
    EXPECT_GT(shown, 5000);
    EXPECT_GT(dropped_exactly, 20000);
    EXPECT_GT(kept_short, 5000);
}

// The edges named one by one: each row is a datagram of `length` bytes with
// the given addresses and ports, and whether the program keeps it.
TEST(Prefilter, KeepsAndDropsAtTheEdges) {
    const std::uint32_t a_10_0_0_5 = 0x0A000005;
    const struct {
        const char* what;
        std::uint32_t filter_address;  // as a number
        std::uint32_t filter_width;
        std::uint16_t filter_port;
        std::size_t length;
        std::uint32_t source;
        std::uint32_t destination;
        std::uint16_t source_port;
        std::uint16_t destination_port;
        bool kept;
    } cases[] = {
        {"no filter keeps an empty frame", 0, 0, 0, 0, 0, 0, 0, 0, true},
        {"width 0, source is the address", a_10_0_0_5, 0, 0, 40, a_10_0_0_5, 1, 0, 0, true},
        {"width 0, one above", a_10_0_0_5, 0, 0, 40, a_10_0_0_5 + 1, 1, 0, 0, false},
        {"destination inside, source not", a_10_0_0_5, 3, 0, 40, 1, a_10_0_0_5 + 3, 0, 0, true},
        {"just below the range", a_10_0_0_5, 3, 0, 40, a_10_0_0_5 - 1, 0, 0, 0, false},
        {"just above the range", a_10_0_0_5, 3, 0, 40, 0, a_10_0_0_5 + 4, 0, 0, false},
        {"wrapped range holds nothing", 0xFFFFFFF0, 0x20, 0, 40, 0xFFFFFFF8, 0x5, 0, 0, false},
        {"full range from 0.0.0.1", 1, 0xFFFFFFFE, 0, 40, 0xFFFFFFFF, 0, 0, 0, true},
        {"width 2^32-1 wraps to low-1", 2, 0xFFFFFFFF, 0, 40, 0xFFFFFFFF, 0x3, 0, 0, false},
        {"addresses cut off: up to the monitor", a_10_0_0_5, 0, 0, 19, 1, 1, 0, 0, true},
        {"port 443 as source", 0, 0, 443, 40, 0, 0, 443, 80, true},
        {"port 443 as destination", 0, 0, 443, 24, 0, 0, 80, 443, true},
        {"port 443 on neither", 0, 0, 443, 40, 0, 0, 444, 442, false},
        {"ports cut off: up to the monitor", 0, 0, 443, 23, 0, 0, 0, 0, true},
        {"both filters, address fails", a_10_0_0_5, 0, 443, 40, 1, 2, 443, 443, false},
        {"both filters, port fails", a_10_0_0_5, 0, 443, 40, a_10_0_0_5, 2, 1, 2, false},
        {"both filters pass", a_10_0_0_5, 0, 443, 40, 2, a_10_0_0_5, 2, 443, true},
    };
    for (const auto& c : cases) {
        FilterOptions options{};
        options.filter_address = network_order_address(c.filter_address);
        options.filter_width = c.filter_width;
        options.filter_port = c.filter_port;
        Frame frame{std::vector<std::uint8_t>(c.length, 0), ethertype_ipv4, PACKET_HOST};
        put_be32(frame.bytes, 12, c.source);
        put_be32(frame.bytes, 16, c.destination);
        put_be16(frame.bytes, 20, c.source_port);
        put_be16(frame.bytes, 22, c.destination_port);
        for (const bool loopback : {false, true}) {
            const std::uint32_t kept =
                run_program(build_prefilter(filter_of(options), loopback), frame);
            EXPECT_EQ(kept, c.kept ? std::uint32_t{packet_buffer_size} : 0u) << c.what;
        }
    }
}

TEST(Prefilter, DropsOtherFramesAndLoopbacksOutgoingCopiesOnly) {
    const FilterOptions options{};
    Frame frame{std::vector<std::uint8_t>(60, 0), ethertype_ipv4, PACKET_OUTGOING};
    // Outgoing datagrams of a real interface are the host's own traffic.
    EXPECT_EQ(run_program(build_prefilter(filter_of(options), false), frame),
              std::uint32_t{packet_buffer_size});
    EXPECT_EQ(run_program(build_prefilter(filter_of(options), true), frame), 0u);
    frame.packet_type = PACKET_HOST;
    EXPECT_EQ(run_program(build_prefilter(filter_of(options), true), frame),
              std::uint32_t{packet_buffer_size});
    for (const int other : {0x86DD, 0x0806, 0x0000}) {
        frame.protocol = static_cast<std::uint16_t>(other);
        EXPECT_EQ(run_program(build_prefilter(filter_of(options), false), frame), 0u) << other;
    }
}

// The kernel checks a program when it is attached; any socket will do.
TEST(Prefilter, TheKernelAcceptsEveryShapeOfProgram) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    for (const std::uint32_t address : {0u, 0x0A000001u, 0xFFFFFFFFu}) {
        for (const int port : {0, 1, 65535}) {
            for (const bool loopback : {false, true}) {
                FilterOptions options{};
                options.filter_address = network_order_address(address);
                options.filter_width = 0xFFFFFFFFu;
                options.filter_port = static_cast<std::uint16_t>(port);
                PrefilterProgram program = build_prefilter(filter_of(options), loopback);
                ASSERT_LE(program.count, prefilter_max_instructions);
                const sock_fprog attached{static_cast<unsigned short>(program.count),
                                          program.instruction};
                EXPECT_EQ(setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached),
                          0)
                    << "address " << address << " port " << port << " loopback " << loopback << ": "
                    << std::strerror(errno);
            }
        }
    }
    close(fd);
}

// --- On a real packet socket (root only) -----------------------------------

struct UdpPort {
    int fd;
    std::uint16_t port;  // host order
};

// A socket on 127.0.0.1 at a port of the system's choice, never read: it keeps
// datagrams to that port from drawing ICMP replies.
UdpPort hold_loopback_port() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return {-1, 0};
    }
    return {fd, ntohs(address.sin_port)};
}

void send_to(int fd, std::uint16_t port, std::size_t payload) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const std::vector<char> data(payload, 'p');
    ASSERT_EQ(sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                     sizeof address),
              static_cast<ssize_t>(payload));
}

// The datagrams the packet socket gives within `wait_ms` after the last one:
// their lengths and destination ports.
struct Received {
    std::vector<ssize_t> length;
    std::vector<std::uint16_t> destination_port;
};

Received receive_all(int fd, int wait_ms) {
    Received got;
    std::vector<std::uint8_t> buffer(4000);
    for (int i = 0; i < 16; ++i) {  // bounded: a few datagrams are expected
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, wait_ms) <= 0) {
            break;
        }
        const ssize_t count = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (count < 0) {
            break;
        }
        got.length.push_back(count);
        got.destination_port.push_back(
            count >= 24 ? static_cast<std::uint16_t>(buffer[22] << 8 | buffer[23]) : 0);
    }
    return got;
}

TEST(PrefilterOnLoopback, DrainsTheQueueKeepsMatchesOnceAndCutsToTheSnapLength) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a packet socket needs root";
    }
    const UdpPort wanted = hold_loopback_port();
    const UdpPort other = hold_loopback_port();
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(wanted.fd, 0);
    ASSERT_GE(other.fd, 0);
    ASSERT_GE(sender, 0);

    const int capture = socket(AF_PACKET, SOCK_DGRAM, 0);
    ASSERT_GE(capture, 0) << std::strerror(errno);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    ASSERT_GT(link.sll_ifindex, 0);
    ASSERT_EQ(bind(capture, reinterpret_cast<const sockaddr*>(&link), sizeof link), 0);

    // Queued before the program is attached: thrown away.
    send_to(sender, wanted.port, 10);

    FilterOptions options{};
    options.filter_port = wanted.port;
    ASSERT_TRUE(attach_prefilter(capture, build_prefilter(filter_of(options), true)))
        << std::strerror(errno);

    send_to(sender, other.port, 20);
    send_to(sender, wanted.port, 30);
    send_to(sender, wanted.port, 3000);  // 3028 bytes: cut to 2000

    const Received got = receive_all(capture, 500);
    ASSERT_EQ(got.length.size(), 2u);
    EXPECT_EQ(got.length[0], 20 + 8 + 30);
    EXPECT_EQ(got.length[1], 2000);
    EXPECT_EQ(got.destination_port[0], wanted.port);
    EXPECT_EQ(got.destination_port[1], wanted.port);

    close(capture);
    close(sender);
    close(wanted.fd);
    close(other.fd);
}

}  // namespace
