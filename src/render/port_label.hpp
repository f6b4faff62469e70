// The port label every port field of the output shows, and the port line
// shared by the summary view and the TCP and UDP blocks of the detail view:
// both ports of the transport header (RFC 793, RFC 768) as labels.
#pragma once

#include <cstdint>

#include "net/packet.hpp"
#include "render/text_buffer.hpp"

inline constexpr int port_label_size = 64;

// Writes "name(port)" when the port has a named row in the port table, else
// the decimal port, into `label` (port_label_size bytes at least). Returns
// `label`.
char* format_port_label(std::uint16_t port, char* label);

struct PortLabels {
    char source[port_label_size];
    char destination[port_label_size];
};

// The labels of the transport header's first two 16-bit words, whatever the
// protocol.
inline void format_port_labels(PacketBytes packet, TransportOffset at, PortLabels* labels) {
    format_port_label(read_transport_be16<transport_field::source_port>(packet, at),
                      labels->source);
    format_port_label(read_transport_be16<transport_field::destination_port>(packet, at),
                      labels->destination);
}

// "Port src->dst:      [%s] >> [%s]\n"
template <std::size_t Capacity>
inline void put_port_line(TextBuffer<Capacity>* out, const PortLabels& labels) {
    put_literal(out, "Port src->dst:      [");
    put_text(out, labels.source);
    put_literal(out, "] >> [");
    put_text(out, labels.destination);
    put_literal(out, "]\n");
}
