// The local host's IPv4 addresses and dotted-quad conversion on Linux.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.hpp"

namespace {

// Appends the IPv4 addresses of the interfaces that are up, in interface
// order, taking only loopback interfaces or only the others.
void append_addresses(const ifaddrs* interfaces, bool loopback, LocalAddressList* list) {
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0 ||
            ((entry->ifa_flags & IFF_LOOPBACK) != 0) != loopback) {
            continue;
        }
        if (list->count == max_local_addresses) {
            return;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        list->address[list->count++] = address.sin_addr.s_addr;
    }
}

}  // namespace

LocalAddressStatus platform_local_addresses(LocalAddressList* list) {
    list->count = 0;
    char host_name[256] = {};
    if (gethostname(host_name, sizeof host_name - 1) != 0 || host_name[0] == '\0') {
        return LocalAddressStatus::host_name_failed;
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return LocalAddressStatus::lookup_failed;
    }
    append_addresses(interfaces, false, list);
    append_addresses(interfaces, true, list);
    freeifaddrs(interfaces);
    return LocalAddressStatus::ok;
}

std::uint32_t platform_inet_addr(const char* text) {
    return inet_addr(text);
}
