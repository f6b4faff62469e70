// Windows Sockets: start-up and clean-up, and the text of the last failure.
// Winsock first: windows.h would bring in the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"
#include "platform/windows/socket_error.hpp"

namespace {

int last_socket_error = 0;

// Copies a C string into a fixed buffer, cutting it if need be, always
// terminated.
template <std::size_t N>
void copy_text(char (&out)[N], const char* text) {
    std::snprintf(out, N, "%s", text);
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
