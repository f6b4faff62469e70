// The summary view: ports, time, protocol, endpoints and length of one IPv4
// datagram (RFC 791 header, then the ports of RFC 793 and RFC 768).
#include "render/summary.hpp"

#include "render/port_label.hpp"
#include "render/tables/protocol_table.hpp"
#include "render/text_buffer.hpp"

namespace {

// The port line (at most 21 + 2 * 63 + 8 characters) and the summary line
// (at most 4 * 11 numbers, an 11-character keyword, 2 * 15 for the addresses,
// 2 * 63 for the labels, 11 for the length and 21 more) fit with room to spare.
using SummaryText = TextBuffer<summary_size_limit>;

}  // namespace

void print_port_line(std::FILE* stream, PacketBytes packet, int length) {
    PortLabels labels;
    format_port_labels(packet, transport_offset(packet, length), &labels);
    SummaryText out;
    out.size = 0;
    put_port_line(&out, labels);
    write_text(stream, out);
}

void print_summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& now) {
    // The port line and the summary line show the same two labels: build them
    // once and write both lines with one call.
    PortLabels labels;
    format_port_labels(packet, transport_offset(packet, length), &labels);

    const char* keyword = protocol_keyword(read_u8<packet_offset::protocol>(packet));
    if (keyword == nullptr) {
        keyword = "???";
    }

    // The port line, then
    // "%02d:%02d:%02d.%04d %s %d.%d.%d.%d:%s -[%dbytes]-> %d.%d.%d.%d:%s \n"
    SummaryText out;
    out.size = 0;
    put_port_line(&out, labels);
    put_int(&out, now.hour, 2);
    put_char(&out, ':');
    put_int(&out, now.minute, 2);
    put_char(&out, ':');
    put_int(&out, now.second, 2);
    put_char(&out, '.');
    put_int(&out, now.milliseconds, 4);
    put_char(&out, ' ');
    put_text(&out, keyword);
    put_char(&out, ' ');
    put_address(&out, read_address<packet_offset::source_address>(packet));
    put_char(&out, ':');
    put_text(&out, labels.source);
    put_literal(&out, " -[");
    put_int(&out, length);
    put_literal(&out, "bytes]-> ");
    put_address(&out, read_address<packet_offset::destination_address>(packet));
    put_char(&out, ':');
    put_text(&out, labels.destination);
    put_literal(&out, " \n");
    write_text(stream, out);
}
