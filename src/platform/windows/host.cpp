// Windows Sockets 2.2 started for the whole run, the local host's IPv4
// addresses and dotted-quad conversion on Windows.
// Winsock first: windows.h would bring in the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/host.hpp"
#include "platform/windows/sockets.hpp"

namespace {

constexpr WORD winsock_2_2 = 0x0202;

bool already_listed(const LocalAddressList& list, std::uint32_t address) {
    for (int i = 0; i < list.count; ++i) {
        if (list.address[i] == address) {
            return true;
        }
    }
    return false;
}

// The lookup proper; the sockets layer is started.
LocalAddressStatus look_up_local_addresses(LocalAddressList* list) {
    char host_name[256] = "";
    if (gethostname(host_name, static_cast<int>(sizeof host_name)) != 0) {
        return LocalAddressStatus::host_name_failed;
    }
    if (host_name[0] == '\0') {
        return LocalAddressStatus::host_name_failed;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address rather than one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host_name, nullptr, &hints, &found);
    if (result != 0) {
        return LocalAddressStatus::lookup_failed;
    }
    // The system's order, each address once.
    for (const addrinfo* entry = found; entry != nullptr && list->count < max_local_addresses;
         entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
            entry->ai_addrlen < sizeof(sockaddr_in)) {
            continue;
        }
        const std::uint32_t address =
            reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
        if (!already_listed(*list, address)) {
            list->address[list->count++] = address;
        }
    }
    freeaddrinfo(found);
    return LocalAddressStatus::ok;
}

}  // namespace

NetworkStart platform_start_network() {
    return start_windows_sockets(winsock_2_2);
}

void platform_stop_network() {
    WSACleanup();
}

LocalAddressStatus platform_local_addresses(LocalAddressList* list) {
    list->count = 0;
    list->left_out = 0;
    // gethostname needs a started sockets layer. Start it for the lookup's own
    // sake (start-ups are counted, so this is harmless when it already runs)
    // and stop it again afterwards.
    WSADATA data{};
    const int started = WSAStartup(winsock_2_2, &data);
    if (started != 0) {
        return LocalAddressStatus::host_name_failed;
    }
    const LocalAddressStatus status = look_up_local_addresses(list);
    WSACleanup();
    return status;
}

std::uint32_t platform_inet_addr(const char* text) {
    return inet_addr(text);
}
