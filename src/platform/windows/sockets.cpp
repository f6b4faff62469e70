// Windows Sockets: start-up, and its error codes as text.
// Winsock first: windows.h would bring in the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/windows/sockets.hpp"

#include <cstdio>
#include <cstring>

namespace {

// Removes the line end and the final full stop FormatMessage leaves.
void trim_message(char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
}

// The texts of the last start-up, printed on every start.
char description[WSADESCRIPTION_LEN + 1];
char system_status[WSASYS_STATUS_LEN + 1];

}  // namespace

NetworkStart start_windows_sockets(unsigned short version) {
    NetworkStart start{false, "", "", ""};
    WSADATA data{};
    const int result = WSAStartup(version, &data);
    if (result != 0) {
        // WSAStartup gives its reason as its result; WSAGetLastError is not
        // usable before a successful start.
        describe_socket_error(result, start.failure, sizeof start.failure);
        return start;
    }
    // By name: the order of these fields differs between 32-bit and 64-bit
    // Windows.
    std::snprintf(description, sizeof description, "%s", data.szDescription);
    std::snprintf(system_status, sizeof system_status, "%s", data.szSystemStatus);
    start.started = true;
    start.description = description;
    start.status = system_status;
    return start;
}

void describe_socket_error(int code, char* text, std::size_t size) {
    char message[192] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, message,
                                        static_cast<DWORD>(sizeof message), nullptr);
    if (length == 0) {
        message[0] = '\0';
    }
    trim_message(message);
    if (message[0] != '\0') {
        std::snprintf(text, size, "%s (Windows Sockets error %d)", message, code);
    } else {
        std::snprintf(text, size, "Windows Sockets error %d", code);
    }
}
