// The views build their text by hand for speed; here each is compared with
// the same view written plainly with the printf formats that define it, over
// many random datagrams, received lengths and clock readings (odd ones too:
// negative, wide, out of range), byte for byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>

#include "render/detail.hpp"
#include "render/port_label.hpp"
#include "render/summary.hpp"
#include "render/tables/icmp_type_names.hpp"
#include "render/tables/port_name_table.hpp"
#include "render/tables/protocol_table.hpp"
#include "render_test_support.hpp"

namespace {

// --- The views written with printf ------------------------------------------

std::string label_of(std::uint16_t port) {
    int row = 0;
    while (PortNameTable[row].port != 0 && PortNameTable[row].port != port) {
        ++row;
    }
    char label[port_label_size];
    if (PortNameTable[row].name[0] != '\0') {
        std::snprintf(label, sizeof label, "%s(%d)", PortNameTable[row].name, port);
    } else {
        std::snprintf(label, sizeof label, "%d", port);
    }
    return label;
}

int be16(PacketBytes p, int at) {
    return p[at] << 8 | p[at + 1];
}

unsigned be32(PacketBytes p, int at) {
    return static_cast<unsigned>(p[at]) << 24 | static_cast<unsigned>(p[at + 1]) << 16 |
           static_cast<unsigned>(p[at + 2]) << 8 | static_cast<unsigned>(p[at + 3]);
}

// Where the transport header starts: 4 x IHL when that is 20 to `length`.
int transport_at(PacketBytes p, int length) {
    const int header = (p[0] & 0x0F) * 4;
    return header >= 20 && header <= length ? header : 20;
}

void summary_by_printf(std::FILE* f, PacketBytes p, int length, const LocalTime& time) {
    const int t = transport_at(p, length);
    const std::string source = label_of(static_cast<std::uint16_t>(be16(p, t)));
    const std::string destination = label_of(static_cast<std::uint16_t>(be16(p, t + 2)));
    const char* keyword = protocol_keyword(p[9]);
    std::fprintf(f,
                 "Port src->dst:      [%s] >> [%s]\n"
                 "%02d:%02d:%02d.%04d %s %d.%d.%d.%d:%s -[%dbytes]-> %d.%d.%d.%d:%s \n",
                 source.c_str(), destination.c_str(), time.hour, time.minute, time.second,
                 time.milliseconds, keyword != nullptr ? keyword : "???", p[12], p[13], p[14],
                 p[15], source.c_str(), length, p[16], p[17], p[18], p[19], destination.c_str());
}

const char* icmp_name(int type) {
    const char* name = IcmpTypeNames[type];
    return name != nullptr ? name : "(null)";
}

void transport_by_printf(std::FILE* f, PacketBytes p, int length) {
    const int t = transport_at(p, length);
    const std::string source = label_of(static_cast<std::uint16_t>(be16(p, t)));
    const std::string destination = label_of(static_cast<std::uint16_t>(be16(p, t + 2)));
    if (p[9] == 1) {
        const int type = p[t];
        if (type >= icmp_type_name_slots) {
            std::fprintf(f, ">>> ICMP HEAD\nICMP Type:\t %d\nICMP Type:\t %d\n", type, type);
        } else if (type == 1) {
            std::fprintf(f, ">>> ICMP HEAD\nICMP Type:\t %s\nCode:\t %s\n", icmp_name(1),
                         icmp_name(1));
        } else if (type == 5) {
            const char* codes[4] = {"net (obsolete).\n", "host.\n", "ToS and net.\n",
                                    "ToS and host.\n"};
            std::fprintf(f,
                         ">>> ICMP HEAD\nICMP Type:\t %s\nICMP Type:\t Redirect datagrams for "
                         "%sGateway IP:\t %d.%d.%d.%d.\n",
                         icmp_name(5), p[t + 1] < 4 ? codes[p[t + 1]] : "ICMP Type:\t unknown.\n",
                         p[t + 4], p[t + 5], p[t + 6], p[t + 7]);
        } else {
            std::fprintf(f, ">>> ICMP HEAD\nICMP Type:\t %s\n", icmp_name(type));
        }
    } else if (p[9] == 6) {
        const int flags = p[t + 13];
        std::fprintf(f,
                     ">>> TCP HEAD\nPort src->dst:      [%s] >> [%s]\n"
                     "Sequence no.:       %04X\nACK no.:            %04X\nData offset:        %u\n"
                     "Flag:               |%s|%s|%s|%s|%s|%s|\n",
                     source.c_str(), destination.c_str(), be32(p, t + 4), be32(p, t + 8),
                     static_cast<unsigned>(p[t + 12] >> 4), (flags & 0x20) != 0 ? "URG" : "---",
                     (flags & 0x10) != 0 ? "ACK" : "---", (flags & 0x08) != 0 ? "PSH" : "---",
                     (flags & 0x04) != 0 ? "RST" : "---", (flags & 0x02) != 0 ? "SYN" : "---",
                     (flags & 0x01) != 0 ? "FIN" : "---");
    } else if (p[9] == 17) {
        std::fprintf(f,
                     ">>> UDP HEAD\nPort src->dst:      [%s] >> [%s]\n"
                     "UDP length:         %u\nCheck sum:          %04Xh\n",
                     source.c_str(), destination.c_str(), static_cast<unsigned>(be16(p, t + 4)),
                     static_cast<unsigned>(be16(p, t + 6)));
    }
}

void detail_by_printf(std::FILE* f, PacketBytes p, int length, const LocalTime& t) {
    const char* weekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char date[64];
    std::snprintf(date, sizeof date, "%s %s %02d %02d:%02d:%02d",
                  t.weekday >= 0 && t.weekday < 7 ? weekdays[t.weekday] : "???",
                  t.month >= 0 && t.month < 12 ? months[t.month] : "???", t.day, t.hour, t.minute,
                  t.second);
    const char* description = protocol_description(p[9]);
    std::fprintf(f,
                 "\n\n\n[%.19s]\n>>> IP HEAD\nIP addr.            [%d.%d.%d.%d] >> [%d.%d.%d.%d]\n"
                 "IP version:         %u\nHeader Length:      %u\nType of service:    %u\n"
                 "Packet length:      %u\nIdentification:     %u\nFlagment:           %u\n"
                 "Time of live:       %u\nProtocol:           %s(%u)\nCheck sum:          %04Xh\n",
                 date, p[12], p[13], p[14], p[15], p[16], p[17], p[18], p[19],
                 static_cast<unsigned>(p[0] >> 4), static_cast<unsigned>((p[0] & 0x0F) * 4),
                 static_cast<unsigned>(p[1]), static_cast<unsigned>(be16(p, 2)),
                 static_cast<unsigned>(be16(p, 4)), static_cast<unsigned>(be16(p, 6)),
                 static_cast<unsigned>(p[8]), description != nullptr ? description : "unknown",
                 static_cast<unsigned>(p[9]), static_cast<unsigned>(be16(p, 10)));
    transport_by_printf(f, p, length);
}

void echo_by_printf(std::FILE* f, PacketBytes p, int length) {
    std::fprintf(f, "IP addr.            [%d.%d.%d.%d] >> [%d.%d.%d.%d]\n\n", p[12], p[13], p[14],
                 p[15], p[16], p[17], p[18], p[19]);
    transport_by_printf(f, p, length);
}

// --- Random inputs --------------------------------------------------------------

std::mt19937 random_source(4242);

// Mostly what a clock gives; now and then anything an int holds.
int clock_field(int usual_limit) {
    switch (random_source() % 8) {
        case 0:
            return static_cast<int>(random_source());
        case 1:
            return -static_cast<int>(random_source() % 1000);
        case 2:
            return INT_MIN;
        default:
            return static_cast<int>(random_source() % static_cast<unsigned>(usual_limit));
    }
}

void fill_random(std::uint8_t* bytes) {
    constexpr std::uint8_t protocols[] = {1, 1, 6, 6, 17, 17, 0, 2, 47, 100, 101, 255};
    // The first 80 bytes: a header of up to 60 and the transport fields after it.
    for (int i = 0; i < 80; ++i) {
        bytes[i] = static_cast<std::uint8_t>(random_source());
    }
    bytes[9] = protocols[random_source() % std::size(protocols)];
    if (bytes[9] == 1 && random_source() % 2 == 0) {
        bytes[20] = static_cast<std::uint8_t>(random_source() % 22);  // named types, and past them
        bytes[21] = static_cast<std::uint8_t>(random_source() % 6);
    }
    // Ports with names more often than chance would give.
    for (const int at : {20, 22}) {
        if (random_source() % 2 == 0) {
            const std::uint16_t port = PortNameTable[random_source() % (port_name_rows + 1)].port;
            bytes[at] = static_cast<std::uint8_t>(port >> 8);
            bytes[at + 1] = static_cast<std::uint8_t>(port);
        }
    }
}

TEST(ViewsMatchPrintf, SummaryDetailAndEchoAreByteForByteThePrintfText) {
    const auto packet = render_test::make_packet();
    for (int round = 0; round < 3000; ++round) {
        fill_random(packet->bytes);
        const LocalTime time = {clock_field(7),  clock_field(12), clock_field(32),  clock_field(24),
                                clock_field(60), clock_field(60), clock_field(1000)};
        const int length = round % 10 == 0 ? static_cast<int>(random_source())
                                           : static_cast<int>(random_source() % 2001);
        PacketBytes p = packet->bytes;

        ASSERT_EQ(
            render_test::printed([&](std::FILE* f) { print_summary(f, p, length, time); }),
            render_test::printed([&](std::FILE* f) { summary_by_printf(f, p, length, time); }))
            << "round " << round;
        ASSERT_EQ(render_test::printed([&](std::FILE* f) { print_detail(f, p, length, time); }),
                  render_test::printed([&](std::FILE* f) { detail_by_printf(f, p, length, time); }))
            << "round " << round;
        ASSERT_EQ(render_test::printed([&](std::FILE* f) { print_console_echo(f, p, length); }),
                  render_test::printed([&](std::FILE* f) { echo_by_printf(f, p, length); }))
            << "round " << round;
    }
}

}  // namespace
