// The summary view: ports, time, protocol, endpoints and length of one IPv4
// datagram (RFC 791 header, ports at offset 20 as in RFC 793 and RFC 768).
#include "render/summary.hpp"

#include "render/clock.hpp"
#include "render/port_line.hpp"
#include "render/tables/protocol_table.hpp"

void print_port_line(std::FILE* stream, PacketBytes packet) {
    PortLabels labels;
    format_port_labels(packet, &labels);
    std::fprintf(stream, PKTWATCH_PORT_LINE_FORMAT, labels.source, labels.destination);
}

void print_summary(std::FILE* stream, PacketBytes packet, int length) {
    const TimeOfDay now = render_time_of_day();

    // The port line and the summary line show the same two labels: build them
    // once and write both lines with one call.
    PortLabels labels;
    format_port_labels(packet, &labels);

    const char* keyword = protocol_keyword(read_u8<packet_offset::protocol>(packet));
    if (keyword == nullptr) {
        keyword = "???";
    }

    std::fprintf(stream,
                 PKTWATCH_PORT_LINE_FORMAT
                 "%02d:%02d:%02d.%04d %s %d.%d.%d.%d:%s -[%dbytes]-> %d.%d.%d.%d:%s \n",
                 labels.source, labels.destination, now.hour, now.minute, now.second,
                 now.milliseconds, keyword, read_u8<packet_offset::source_address>(packet),
                 read_u8<packet_offset::source_address + 1>(packet),
                 read_u8<packet_offset::source_address + 2>(packet),
                 read_u8<packet_offset::source_address + 3>(packet), labels.source, length,
                 read_u8<packet_offset::destination_address>(packet),
                 read_u8<packet_offset::destination_address + 1>(packet),
                 read_u8<packet_offset::destination_address + 2>(packet),
                 read_u8<packet_offset::destination_address + 3>(packet), labels.destination);
}
