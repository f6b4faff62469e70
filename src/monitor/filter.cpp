// The address-range and port filter: fixed offsets of the IPv4 header (RFC
// 791) and of the first four bytes after it, read as TCP/UDP ports (RFC 793,
// 768) whatever the protocol.
#include "monitor/filter.hpp"

bool packet_passes_filter(const MonitorOptions& options, PacketBytes packet) {
    if (options.filter_address != 0) {
        const std::uint32_t low = address_number(options.filter_address);
        const std::uint32_t high = low + options.filter_width;  // modulo 2^32
        const std::uint32_t source = read_be32<packet_offset::source_address>(packet);
        const std::uint32_t destination = read_be32<packet_offset::destination_address>(packet);
        const bool source_in = low <= source && source <= high;
        const bool destination_in = low <= destination && destination <= high;
        if (!source_in && !destination_in) {
            return false;
        }
    }
    if (options.filter_port != 0) {
        if (read_be16<packet_offset::source_port>(packet) != options.filter_port &&
            read_be16<packet_offset::destination_port>(packet) != options.filter_port) {
            return false;
        }
    }
    return true;
}
