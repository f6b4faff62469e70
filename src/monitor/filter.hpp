// The address-range and port filter applied to every received datagram.
#pragma once

#include "config/options.hpp"
#include "monitor/packet.hpp"

// True when the datagram is to be shown, false to drop it silently.
bool packet_passes_filter(const MonitorOptions& options, PacketBytes packet);
