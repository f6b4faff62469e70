// The network layer, the local host's IPv4 addresses and dotted-quad
// conversion on Linux. There is no network layer to start or stop: start-up
// always succeeds and only names the capture method in use.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

#include "platform/host.hpp"

namespace {

bool listed_interface(const ifaddrs* entry, bool loopback) {
    return entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
           (entry->ifa_flags & IFF_UP) != 0 && ((entry->ifa_flags & IFF_LOOPBACK) != 0) == loopback;
}

int count_addresses(const ifaddrs* interfaces, bool loopback) {
    int count = 0;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        count += listed_interface(entry, loopback) ? 1 : 0;
    }
    return count;
}

// Appends the IPv4 addresses of the interfaces that are up, in interface
// order, taking only loopback interfaces or only the others, while the list
// has fewer than `room` entries; counts the rest as left out.
void append_addresses(const ifaddrs* interfaces, bool loopback, int room, LocalAddressList* list) {
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (!listed_interface(entry, loopback)) {
            continue;
        }
        if (list->count >= room) {
            ++list->left_out;
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        list->address[list->count++] = address.sin_addr.s_addr;
    }
}

}  // namespace

NetworkStart platform_start_network() {
    return NetworkStart{true, "Linux AF_PACKET IPv4 capture", "Running", ""};
}

void platform_stop_network() {}

LocalAddressStatus platform_local_addresses(LocalAddressList* list) {
    list->count = 0;
    list->left_out = 0;
    char host_name[256] = {};
    if (gethostname(host_name, sizeof host_name - 1) != 0 || host_name[0] == '\0') {
        return LocalAddressStatus::host_name_failed;
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return LocalAddressStatus::lookup_failed;
    }
    // Loopback comes last but keeps its room (up to half the list), so that
    // 127.0.0.1 stays choosable however many other addresses the host has.
    const int loopback = count_addresses(interfaces, true);
    const int loopback_room =
        loopback < max_local_addresses / 2 ? loopback : max_local_addresses / 2;
    append_addresses(interfaces, false, max_local_addresses - loopback_room, list);
    append_addresses(interfaces, true, max_local_addresses, list);
    freeifaddrs(interfaces);
    return LocalAddressStatus::ok;
}

std::uint32_t platform_inet_addr(const char* text) {
    return inet_addr(text);
}
