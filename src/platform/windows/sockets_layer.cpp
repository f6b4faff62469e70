// Windows Sockets: start-up and clean-up, the local host's IPv4 addresses,
// dotted-quad conversion and the text of the last failure.
// Winsock first: windows.h would bring in the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"
#include "platform/windows/socket_error.hpp"

namespace {

constexpr WORD winsock_2_2 = 0x0202;

int last_socket_error = 0;

// Copies a C string into a fixed buffer, cutting it if need be, always
// terminated.
template <std::size_t N>
void copy_text(char (&out)[N], const char* text) {
    std::snprintf(out, N, "%s", text);
}

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
        remember_socket_error(WSAGetLastError());
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
        remember_socket_error(result);
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

// Removes the line end and the final full stop FormatMessage leaves.
void trim_message(char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
}

}  // namespace

void remember_socket_error(int code) {
    last_socket_error = code;
}

int platform_startup(std::uint16_t version, SocketsLayerInfo* info) {
    WSADATA data{};
    const int result = WSAStartup(version, &data);
    if (result != 0) {
        // WSAStartup gives its reason as its result; WSAGetLastError is not
        // usable before a successful start.
        remember_socket_error(result);
        info->description[0] = '\0';
        info->system_status[0] = '\0';
        return result;
    }
    // By name: the order of these fields differs between 32-bit and 64-bit
    // Windows.
    copy_text(info->description, data.szDescription);
    copy_text(info->system_status, data.szSystemStatus);
    return 0;
}

void platform_cleanup() {
    WSACleanup();
}

LocalAddressStatus platform_local_addresses(LocalAddressList* list) {
    list->count = 0;
    // gethostname needs a started sockets layer. Start it for the lookup's own
    // sake (start-ups are counted, so this is harmless when it already runs)
    // and stop it again afterwards.
    WSADATA data{};
    const int started = WSAStartup(winsock_2_2, &data);
    if (started != 0) {
        remember_socket_error(started);
        return LocalAddressStatus::host_name_failed;
    }
    const LocalAddressStatus status = look_up_local_addresses(list);
    WSACleanup();
    return status;
}

std::uint32_t platform_inet_addr(const char* text) {
    return inet_addr(text);
}

PlatformError platform_last_error() {
    PlatformError error{};
    error.permission_denied = last_socket_error == WSAEACCES;
    error.privilege_hint = "raw sockets need an Administrator: run it from an elevated console:";
    char message[192] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(last_socket_error), 0, message,
                                        static_cast<DWORD>(sizeof message), nullptr);
    if (length == 0) {
        message[0] = '\0';
    }
    trim_message(message);
    if (message[0] != '\0') {
        std::snprintf(error.text, sizeof error.text, "%s (Windows Sockets error %d)", message,
                      last_socket_error);
    } else {
        std::snprintf(error.text, sizeof error.text, "Windows Sockets error %d", last_socket_error);
    }
    return error;
}
