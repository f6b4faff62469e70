// The detail view: the IPv4 header (RFC 791) field by field, then the ICMP
// (RFC 792), TCP (RFC 793) or UDP (RFC 768) header that follows it.
#include "render/detail.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/port_label.hpp"
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

// The IPv4 block (at most about 420 characters with the longest description
// and numbers) and the longest transport block (about 200) fit.
using DetailText = TextBuffer<detail_size_limit>;

// "[%.19s]" of the date text "%s %s %02d %02d:%02d:%02d": "Tue Dec 08
// 04:20:20", English names, the day with a leading zero.
void put_date(DetailText* out, const LocalTime& time) {
    TextBuffer<64> date;
    date.size = 0;
    put_text(&date, name_at(weekday_names, time.weekday));
    put_char(&date, ' ');
    put_text(&date, name_at(month_names, time.month));
    put_char(&date, ' ');
    put_int(&date, time.day, 2);
    put_char(&date, ' ');
    put_int(&date, time.hour, 2);
    put_char(&date, ':');
    put_int(&date, time.minute, 2);
    put_char(&date, ':');
    put_int(&date, time.second, 2);
    put_char(out, '[');
    for (std::size_t i = 0; i < date.size && i < 19; ++i) {
        put_char(out, date.text[i]);
    }
    put_char(out, ']');
}
// The source and destination addresses, byte by byte in address order.
struct EndpointAddresses {
    AddressBytes source;
    AddressBytes destination;
};

EndpointAddresses read_addresses(PacketBytes packet) {
    return {read_address<packet_offset::source_address>(packet),
            read_address<packet_offset::destination_address>(packet)};
}

// Address line of the console echo and of the IPv4 block:
// "IP addr.            [%d.%d.%d.%d] >> [%d.%d.%d.%d]\n"
void put_address_line(DetailText* out, const EndpointAddresses& address) {
    put_literal(out, "IP addr.            [");
    put_address(out, address.source);
    put_literal(out, "] >> [");
    put_address(out, address.destination);
    put_literal(out, "]\n");
}

// ">>> ICMP HEAD\n" and the type's lines.
void put_icmp_block(DetailText* out, PacketBytes packet, TransportOffset at) {
    const std::uint8_t type = read_transport_u8<transport_field::icmp_type>(packet, at);
    put_literal(out, ">>> ICMP HEAD\n");

    if (type >= icmp_type_name_slots) {
        // A type without a slot shows its number, and shows it twice:
        // "ICMP Type:\t %d\nICMP Type:\t %d\n"
        for (int twice = 0; twice < 2; ++twice) {
            put_literal(out, "ICMP Type:\t ");
            put_unsigned(out, type);
            put_char(out, '\n');
        }
        return;
    }

    // "ICMP Type:\t %s\n"
    put_literal(out, "ICMP Type:\t ");
    put_text(out, icmp_type_name(type));
    put_char(out, '\n');
    if (type == icmp_host_unreachable) {
        // "Code:\t %s\n"
        put_literal(out, "Code:\t ");
        put_text(out, icmp_type_name(icmp_host_unreachable));
        put_char(out, '\n');
    } else if (type == icmp_redirect) {
        // "ICMP Type:\t Redirect datagrams for %sGateway IP:\t %d.%d.%d.%d.\n"
        const std::uint8_t code = read_transport_u8<transport_field::icmp_code>(packet, at);
        const AddressBytes gateway =
            read_transport_address<transport_field::icmp_gateway>(packet, at);
        put_literal(out, "ICMP Type:\t Redirect datagrams for ");
        put_text(out, code < 4 ? redirect_code_texts[code] : redirect_unknown_code_text);
        put_literal(out, "Gateway IP:\t ");
        put_address(out, gateway);
        put_literal(out, ".\n");
    }
}

// ">>> TCP HEAD\n", the port line, then
// "Sequence no.:       %04X\nACK no.:            %04X\nData offset:        %u\n"
// "Flag:               |%s|%s|%s|%s|%s|%s|\n"
void put_tcp_block(DetailText* out, PacketBytes packet, TransportOffset at) {
    PortLabels labels;
    format_port_labels(packet, at, &labels);
    const std::uint8_t flags = read_transport_u8<transport_field::tcp_flags>(packet, at);

    put_literal(out, ">>> TCP HEAD\n");
    put_port_line(out, labels);
    put_literal(out, "Sequence no.:       ");
    put_hex4(out, read_transport_be32<transport_field::tcp_sequence>(packet, at));
    put_literal(out, "\nACK no.:            ");
    put_hex4(out, read_transport_be32<transport_field::tcp_acknowledgement>(packet, at));
    put_literal(out, "\nData offset:        ");
    put_unsigned(out, read_transport_u8<transport_field::tcp_data_offset>(packet, at) >> 4);
    put_literal(out, "\nFlag:               |");
    constexpr struct {
        std::uint8_t bit;
        char name[4];
    } flag_names[6] = {{0x20, "URG"}, {0x10, "ACK"}, {0x08, "PSH"},
                       {0x04, "RST"}, {0x02, "SYN"}, {0x01, "FIN"}};
    for (const auto& flag : flag_names) {
        put_text(out, (flags & flag.bit) != 0 ? flag.name : "---");
        put_char(out, '|');
    }
    put_char(out, '\n');
}

// ">>> UDP HEAD\n", the port line, then
// "UDP length:         %u\nCheck sum:          %04Xh\n"
void put_udp_block(DetailText* out, PacketBytes packet, TransportOffset at) {
    PortLabels labels;
    format_port_labels(packet, at, &labels);

    put_literal(out, ">>> UDP HEAD\n");
    put_port_line(out, labels);
    put_literal(out, "UDP length:         ");
    put_unsigned(out, read_transport_be16<transport_field::udp_length>(packet, at));
    put_literal(out, "\nCheck sum:          ");
    put_hex4(out, read_transport_be16<transport_field::udp_checksum>(packet, at));
    put_literal(out, "h\n");
}

// The block of the datagram's protocol; none for other protocols.
void put_transport_block(DetailText* out, PacketBytes packet, int length) {
    const TransportOffset at = transport_offset(packet, length);
    switch (read_u8<packet_offset::protocol>(packet)) {
        case protocol_icmp:
            put_icmp_block(out, packet, at);
            break;
        case protocol_tcp:
            put_tcp_block(out, packet, at);
            break;
        case protocol_udp:
            put_udp_block(out, packet, at);
            break;
        default:
            break;
    }
}

}  // namespace

void print_detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time) {
    const std::uint8_t protocol = read_u8<packet_offset::protocol>(packet);
    const char* description = protocol_description(protocol);
    if (description == nullptr) {
        description = "unknown";
    }
    const std::uint8_t version_and_length = read_u8<packet_offset::version_and_length>(packet);

    // "\n\n\n[%.19s]\n>>> IP HEAD\n", the address line, then
    // "IP version:         %u\nHeader Length:      %u\nType of service:    %u\n"
    // "Packet length:      %u\nIdentification:     %u\nFlagment:           %u\n"
    // "Time of live:       %u\nProtocol:           %s(%u)\nCheck sum:          %04Xh\n",
    // and the transport block.
    DetailText out;
    out.size = 0;
    put_literal(&out, "\n\n\n");
    put_date(&out, time);
    put_literal(&out, "\n>>> IP HEAD\n");
    put_address_line(&out, read_addresses(packet));
    put_literal(&out, "IP version:         ");
    put_unsigned(&out, version_and_length >> 4);
    put_literal(&out, "\nHeader Length:      ");
    put_unsigned(&out, (version_and_length & 0x0Fu) * 4);
    put_literal(&out, "\nType of service:    ");
    put_unsigned(&out, read_u8<packet_offset::type_of_service>(packet));
    put_literal(&out, "\nPacket length:      ");
    put_unsigned(&out, read_be16<packet_offset::total_length>(packet));
    put_literal(&out, "\nIdentification:     ");
    put_unsigned(&out, read_be16<packet_offset::identification>(packet));
    put_literal(&out, "\nFlagment:           ");
    put_unsigned(&out, read_be16<packet_offset::fragment>(packet));
    put_literal(&out, "\nTime of live:       ");
    put_unsigned(&out, read_u8<packet_offset::time_to_live>(packet));
    put_literal(&out, "\nProtocol:           ");
    put_text(&out, description);
    put_char(&out, '(');
    put_unsigned(&out, protocol);
    put_literal(&out, ")\nCheck sum:          ");
    put_hex4(&out, read_be16<packet_offset::header_checksum>(packet));
    put_literal(&out, "h\n");
    put_transport_block(&out, packet, length);
    write_text(stream, out);
}

std::size_t format_console_echo(char (&text)[detail_size_limit], PacketBytes packet, int length) {
    // The address line, a blank line, the transport block.
    DetailText out;
    out.size = 0;
    put_address_line(&out, read_addresses(packet));
    put_char(&out, '\n');
    put_transport_block(&out, packet, length);
    std::memcpy(text, out.text, out.size);
    return out.size;
}

void print_console_echo(std::FILE* stream, PacketBytes packet, int length) {
    char text[detail_size_limit];
    std::fwrite(text, 1, format_console_echo(text, packet, length), stream);
}
