// The address-range and port filter: fixed offsets of the IPv4 header (RFC
// 791) and of the first four bytes after it, read as TCP/UDP ports (RFC 793,
// 768) whatever the protocol.
#include "net/capture_filter.hpp"

bool packet_passes_filter(const CaptureFilter& filter, PacketBytes packet) {
    if (filter.has_range &&
        !range_holds(filter, read_be32<packet_offset::source_address>(packet)) &&
        !range_holds(filter, read_be32<packet_offset::destination_address>(packet))) {
        return false;
    }
    if (filter.has_port && read_be16<packet_offset::source_port>(packet) != filter.port &&
        read_be16<packet_offset::destination_port>(packet) != filter.port) {
        return false;
    }
    return true;
}
