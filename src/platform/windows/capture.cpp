// The capture socket on Windows: a raw IPv4 socket bound to one local address
// and switched to receive-all at IP level with SIO_RCVALL.
// Winsock first: windows.h would bring in the old winsock.h otherwise, and
// mstcpip.h needs both.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mstcpip.h>

#include <bit>

#include "platform/platform.hpp"
#include "platform/windows/socket_error.hpp"

namespace {

static_assert(sizeof(SOCKET) == sizeof(std::intptr_t));

SOCKET socket_of(const CaptureSocket* capture) {
    return std::bit_cast<SOCKET>(capture->handle);
}

// How long a receive that failed outright waits before the next try, so that a
// socket that can no longer deliver (its address or interface gone) does not
// keep a processor busy. A receive that returns a datagram never waits.
constexpr DWORD failed_receive_pause_ms = 10;

}  // namespace

bool platform_open_capture(CaptureSocket* capture) {
    capture->interface_index = 0;
    capture->loopback = false;
    const SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    capture->handle = std::bit_cast<std::intptr_t>(s);
    if (s == INVALID_SOCKET) {
        remember_socket_error(WSAGetLastError());
        return false;
    }
    return true;
}

bool platform_bind_capture(CaptureSocket* capture, std::uint32_t listen_address) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(0);
    address.sin_addr.s_addr = listen_address;  // already in network order
    if (bind(socket_of(capture), reinterpret_cast<const sockaddr*>(&address),
             static_cast<int>(sizeof address)) == SOCKET_ERROR) {
        remember_socket_error(WSAGetLastError());
        return false;
    }
    return true;
}

bool platform_receive_all(CaptureSocket* capture, const CaptureFilter& /*filter*/) {
    // Every IPv4 datagram the bound interface receives or sends, at IP level:
    // not promiscuous mode (RCVALL_ON). Windows refuses any value other than
    // RCVALL_OFF..RCVALL_IPLEVEL with WSAEINVAL.
    DWORD value = RCVALL_IPLEVEL;
    DWORD returned = 0;
    if (WSAIoctl(socket_of(capture), SIO_RCVALL, &value, static_cast<DWORD>(sizeof value), nullptr,
                 0, &returned, nullptr, nullptr) == SOCKET_ERROR) {
        remember_socket_error(WSAGetLastError());
        return false;
    }
    return true;
}

int platform_receive(CaptureSocket* capture, unsigned char* buffer, int capacity, int wait_ms) {
    if (wait_ms >= 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_of(capture), &readable);
        timeval wait{wait_ms / 1000, wait_ms % 1000 * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) == 0) {
            return receive_nothing;
        }
    }
    const int count = recv(socket_of(capture), reinterpret_cast<char*>(buffer), capacity, 0);
    if (count != SOCKET_ERROR) {
        return count;
    }
    const int error = WSAGetLastError();
    if (error == WSAEMSGSIZE) {
        // A datagram longer than the buffer: Windows filled the buffer with
        // its first `capacity` bytes and dropped the rest.
        return capacity;
    }
    remember_socket_error(error);
    if (error != WSAEINTR) {
        Sleep(failed_receive_pause_ms);
    }
    return receive_failed;
}

bool platform_datagram_waiting(const CaptureSocket* capture) {
    u_long waiting = 0;
    return ioctlsocket(socket_of(capture), FIONREAD, &waiting) == 0 && waiting > 0;
}

void platform_nap(int /*microseconds*/) {
    // Sleep counts whole milliseconds (and the system's tick): far too long.
}

CaptureDrops platform_capture_drops(CaptureSocket* /*capture*/) {
    // A raw socket on Windows does not count what it could not keep.
    return CaptureDrops{0, 0, false};
}
