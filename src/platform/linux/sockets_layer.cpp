// The sockets layer on Linux: there is nothing to start or stop, so start-up
// always succeeds and only names the capture method in use.
#include <cstdio>

#include "platform/platform.hpp"

int platform_startup(std::uint16_t /*version*/, SocketsLayerInfo* info) {
    std::snprintf(info->description, sizeof info->description, "%s",
                  "Linux AF_PACKET IPv4 capture");
    std::snprintf(info->system_status, sizeof info->system_status, "%s", "Running");
    return 0;
}

void platform_cleanup() {}
