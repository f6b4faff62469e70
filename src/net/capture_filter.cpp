// The address-range and port filter: the addresses of the IPv4 header (RFC
// 791) and the first four bytes of the transport header, read as TCP/UDP
// ports (RFC 793, 768) whatever the protocol.
#include "net/capture_filter.hpp"

bool packet_passes_filter(const CaptureFilter& filter, PacketBytes packet, int length) {
    if (filter.has_range &&
        !range_holds(filter, read_be32<packet_offset::source_address>(packet)) &&
        !range_holds(filter, read_be32<packet_offset::destination_address>(packet))) {
        return false;
    }
    if (filter.has_port) {
        const TransportOffset at = transport_offset(packet, length);
        if (read_transport_be16<transport_field::source_port>(packet, at) != filter.port &&
            read_transport_be16<transport_field::destination_port>(packet, at) != filter.port) {
            return false;
        }
    }
    return true;
}
