// The detail view: the IPv4 header (RFC 791) field by field, then the ICMP
// (RFC 792), TCP (RFC 793) or UDP (RFC 768) header read at offset 20.
#include "render/detail.hpp"

#include <cstddef>
#include <cstdint>

#include "render/clock.hpp"
#include "render/port_line.hpp"
#include "render/tables/icmp_type_names.hpp"
#include "render/tables/protocol_table.hpp"

namespace {

constexpr std::uint8_t protocol_icmp = 1;
constexpr std::uint8_t protocol_tcp = 6;
constexpr std::uint8_t protocol_udp = 17;

constexpr std::uint8_t icmp_host_unreachable = 1;
constexpr std::uint8_t icmp_redirect = 5;

constexpr const char* weekday_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// What follows "Redirect datagrams for " for codes 0 to 3, and for any other.
constexpr const char* redirect_code_texts[4] = {"net (obsolete).\n", "host.\n", "ToS and net.\n",
                                                "ToS and host.\n"};
constexpr const char* redirect_unknown_code_text = "ICMP Type:\t unknown.\n";

// A name from a fixed table, or "???" when the clock gave an index outside it.
template <std::size_t Count>
const char* name_at(const char* const (&names)[Count], int index) {
    return index >= 0 && static_cast<std::size_t>(index) < Count ? names[index] : "???";
}

// The slot of an ICMP type below 20; the slot without a name shows as (null),
// the text a C library prints for it, without handing printf a null pointer.
const char* icmp_type_name(std::uint8_t type) {
    const char* name = IcmpTypeNames[type];
    return name != nullptr ? name : "(null)";
}

// "Tue Dec 08 04:20:20": English names, the day with a leading zero. `text`
// holds at least 64 bytes, room for any values the clock may give.
void format_date_text(const CalendarTime& time, char* text, std::size_t size) {
    std::snprintf(text, size, "%s %s %02d %02d:%02d:%02d", name_at(weekday_names, time.weekday),
                  name_at(month_names, time.month), time.day, time.hour, time.minute, time.second);
}

// Address line of the console echo and of the IPv4 block.
#define PKTWATCH_ADDRESS_LINE_FORMAT "IP addr.            [%d.%d.%d.%d] >> [%d.%d.%d.%d]\n"
// The source and destination addresses, byte by byte in address order.
struct AddressBytes {
    std::uint8_t source[4];
    std::uint8_t destination[4];
};

AddressBytes read_addresses(PacketBytes packet) {
    return {{read_u8<packet_offset::source_address>(packet),
             read_u8<packet_offset::source_address + 1>(packet),
             read_u8<packet_offset::source_address + 2>(packet),
             read_u8<packet_offset::source_address + 3>(packet)},
            {read_u8<packet_offset::destination_address>(packet),
             read_u8<packet_offset::destination_address + 1>(packet),
             read_u8<packet_offset::destination_address + 2>(packet),
             read_u8<packet_offset::destination_address + 3>(packet)}};
}

void print_transport_block(std::FILE* stream, PacketBytes packet) {
    switch (read_u8<packet_offset::protocol>(packet)) {
        case protocol_icmp:
            print_icmp_block(stream, packet);
            break;
        case protocol_tcp:
            print_tcp_block(stream, packet);
            break;
        case protocol_udp:
            print_udp_block(stream, packet);
            break;
        default:
            break;
    }
}

}  // namespace

void print_detail(std::FILE* stream, PacketBytes packet, int /*length*/) {
    char date[64];
    format_date_text(render_calendar_time(), date, sizeof date);

    const std::uint8_t protocol = read_u8<packet_offset::protocol>(packet);
    const char* description = protocol_description(protocol);
    if (description == nullptr) {
        description = "unknown";
    }
    const std::uint8_t version_and_length = read_u8<packet_offset::version_and_length>(packet);
    const AddressBytes address = read_addresses(packet);

    std::fprintf(stream,
                 "\n\n\n[%.19s]\n>>> IP HEAD\n" PKTWATCH_ADDRESS_LINE_FORMAT
                 "IP version:         %u\nHeader Length:      %u\nType of service:    %u\n"
                 "Packet length:      %u\nIdentification:     %u\nFlagment:           %u\n"
                 "Time of live:       %u\nProtocol:           %s(%u)\nCheck sum:          %04Xh\n",
                 date, address.source[0], address.source[1], address.source[2], address.source[3],
                 address.destination[0], address.destination[1], address.destination[2],
                 address.destination[3], static_cast<unsigned>(version_and_length >> 4),
                 static_cast<unsigned>((version_and_length & 0x0F) * 4),
                 static_cast<unsigned>(read_u8<packet_offset::type_of_service>(packet)),
                 static_cast<unsigned>(read_be16<packet_offset::total_length>(packet)),
                 static_cast<unsigned>(read_be16<packet_offset::identification>(packet)),
                 static_cast<unsigned>(read_be16<packet_offset::fragment>(packet)),
                 static_cast<unsigned>(read_u8<packet_offset::time_to_live>(packet)), description,
                 static_cast<unsigned>(protocol),
                 static_cast<unsigned>(read_be16<packet_offset::header_checksum>(packet)));

    print_transport_block(stream, packet);
}

void print_icmp_block(std::FILE* stream, PacketBytes packet) {
    const std::uint8_t type = read_u8<packet_offset::icmp_type>(packet);

    if (type >= icmp_type_name_slots) {
        // A type without a slot shows its number, and shows it twice.
        std::fprintf(stream, ">>> ICMP HEAD\nICMP Type:\t %d\nICMP Type:\t %d\n", type, type);
        return;
    }

    const char* name = icmp_type_name(type);
    if (type == icmp_host_unreachable) {
        std::fprintf(stream, ">>> ICMP HEAD\nICMP Type:\t %s\nCode:\t %s\n", name,
                     icmp_type_name(icmp_host_unreachable));
    } else if (type == icmp_redirect) {
        const std::uint8_t code = read_u8<packet_offset::icmp_code>(packet);
        const char* code_text = code < 4 ? redirect_code_texts[code] : redirect_unknown_code_text;
        std::fprintf(stream,
                     ">>> ICMP HEAD\nICMP Type:\t %s\nICMP Type:\t Redirect datagrams for "
                     "%sGateway IP:\t %d.%d.%d.%d.\n",
                     name, code_text, read_u8<packet_offset::icmp_gateway>(packet),
                     read_u8<packet_offset::icmp_gateway + 1>(packet),
                     read_u8<packet_offset::icmp_gateway + 2>(packet),
                     read_u8<packet_offset::icmp_gateway + 3>(packet));
    } else {
        std::fprintf(stream, ">>> ICMP HEAD\nICMP Type:\t %s\n", name);
    }
}

void print_tcp_block(std::FILE* stream, PacketBytes packet) {
    PortLabels labels;
    format_port_labels(packet, &labels);
    const std::uint8_t flags = read_u8<packet_offset::tcp_flags>(packet);

    std::fprintf(stream,
                 ">>> TCP HEAD\n" PKTWATCH_PORT_LINE_FORMAT
                 "Sequence no.:       %04X\nACK no.:            %04X\nData offset:        %u\n"
                 "Flag:               |%s|%s|%s|%s|%s|%s|\n",
                 labels.source, labels.destination,
                 static_cast<unsigned>(read_be32<packet_offset::tcp_sequence>(packet)),
                 static_cast<unsigned>(read_be32<packet_offset::tcp_acknowledgement>(packet)),
                 static_cast<unsigned>(read_u8<packet_offset::tcp_data_offset>(packet) >> 4),
                 (flags & 0x20) != 0 ? "URG" : "---", (flags & 0x10) != 0 ? "ACK" : "---",
                 (flags & 0x08) != 0 ? "PSH" : "---", (flags & 0x04) != 0 ? "RST" : "---",
                 (flags & 0x02) != 0 ? "SYN" : "---", (flags & 0x01) != 0 ? "FIN" : "---");
}

void print_udp_block(std::FILE* stream, PacketBytes packet) {
    PortLabels labels;
    format_port_labels(packet, &labels);

    std::fprintf(stream,
                 ">>> UDP HEAD\n" PKTWATCH_PORT_LINE_FORMAT
                 "UDP length:         %u\nCheck sum:          %04Xh\n",
                 labels.source, labels.destination,
                 static_cast<unsigned>(read_be16<packet_offset::udp_length>(packet)),
                 static_cast<unsigned>(read_be16<packet_offset::udp_checksum>(packet)));
}

void print_console_echo(std::FILE* stream, PacketBytes packet, int /*length*/) {
    const AddressBytes address = read_addresses(packet);
    std::fprintf(stream, PKTWATCH_ADDRESS_LINE_FORMAT "\n", address.source[0], address.source[1],
                 address.source[2], address.source[3], address.destination[0],
                 address.destination[1], address.destination[2], address.destination[3]);
    print_transport_block(stream, packet);
}
