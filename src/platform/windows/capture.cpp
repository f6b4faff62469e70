// The capture on Windows: a raw IPv4 socket bound to one local address and
// switched to receive-all at IP level with SIO_RCVALL.
// Winsock first: windows.h would bring in the old winsock.h otherwise, and
// mstcpip.h needs both.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mstcpip.h>

#include "platform/capture.hpp"
#include "platform/windows/capture_state.hpp"
#include "platform/windows/sockets.hpp"

namespace {

// The captures open at once: the monitor opens one, a test a few.
constexpr int max_captures = 8;
Capture captures[max_captures];

// How long a receive that failed outright waits before the next try, so that a
// socket that can no longer deliver (its address or interface gone) does not
// keep a processor busy. A receive that returns a datagram never waits.
constexpr DWORD failed_receive_pause_ms = 10;

CaptureOpen fail(CaptureOpen step, int code, CaptureReport* report) {
    describe_socket_error(code, report->reason, sizeof report->reason);
    report->permission_denied = code == WSAEACCES;
    return step;
}

}  // namespace

int bind_capture_socket(SOCKET socket, std::uint32_t listen_address) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(0);
    address.sin_addr.s_addr = listen_address;  // already in network order
    if (bind(socket, reinterpret_cast<const sockaddr*>(&address),
             static_cast<int>(sizeof address)) == SOCKET_ERROR) {
        return WSAGetLastError();
    }
    return 0;
}

int switch_on_receive_all(SOCKET socket) {
    // Every IPv4 datagram the bound interface receives or sends, at IP level:
    // not promiscuous mode (RCVALL_ON). Windows refuses any value other than
    // RCVALL_OFF..RCVALL_IPLEVEL with WSAEINVAL.
    DWORD value = RCVALL_IPLEVEL;
    DWORD returned = 0;
    if (WSAIoctl(socket, SIO_RCVALL, &value, static_cast<DWORD>(sizeof value), nullptr, 0,
                 &returned, nullptr, nullptr) == SOCKET_ERROR) {
        return WSAGetLastError();
    }
    return 0;
}

// Windows has no kernel filter for a raw socket: every datagram comes up and
// the monitor's own filter decides.
CaptureOpen platform_open_capture(std::uint32_t listen_address, const CaptureFilter& /*filter*/,
                                  Capture** opened, CaptureReport* report) {
    *report = CaptureReport{};
    report->privilege_hint = "raw sockets need an Administrator: run it from an elevated console:";
    *opened = nullptr;
    Capture* capture = nullptr;
    for (Capture& slot : captures) {
        if (!slot.in_use) {
            capture = &slot;
            break;
        }
    }
    if (capture == nullptr) {
        return fail(CaptureOpen::socket_failed, WSAEMFILE, report);
    }
    const SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    if (s == INVALID_SOCKET) {
        return fail(CaptureOpen::socket_failed, WSAGetLastError(), report);
    }
    if (const int code = bind_capture_socket(s, listen_address); code != 0) {
        closesocket(s);
        return fail(CaptureOpen::bind_failed, code, report);
    }
    if (const int code = switch_on_receive_all(s); code != 0) {
        closesocket(s);
        return fail(CaptureOpen::configure_failed, code, report);
    }
    *capture = Capture{true, s};
    *opened = capture;
    return CaptureOpen::opened;
}

void platform_close_capture(Capture* capture) {
    if (capture == nullptr || !capture->in_use) {
        return;
    }
    closesocket(capture->socket);
    *capture = Capture{false, INVALID_SOCKET};
}

const char* platform_capture_interface(const Capture* /*capture*/) {
    return "";
}

CaptureReceive platform_receive(Capture* capture, unsigned char* buffer, int capacity, int wait_ms,
                                Received* received) {
    *received = Received{};
    if (wait_ms >= 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(capture->socket, &readable);
        timeval wait{wait_ms / 1000, wait_ms % 1000 * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) == 0) {
            return CaptureReceive::nothing;
        }
    }
    const int count = recv(capture->socket, reinterpret_cast<char*>(buffer), capacity, 0);
    if (count >= 0) {
        *received = Received{count, static_cast<std::uint32_t>(count)};
        return count > 0 ? CaptureReceive::datagram : CaptureReceive::nothing;
    }
    const int error = WSAGetLastError();
    if (error == WSAEMSGSIZE && capacity > 0) {
        // A datagram longer than the buffer: Windows filled the buffer with
        // its first `capacity` bytes and dropped the rest. Its own length is
        // in its IPv4 header.
        const std::uint32_t total = std::uint32_t{buffer[2]} << 8 | buffer[3];
        *received = Received{capacity, total > static_cast<std::uint32_t>(capacity)
                                           ? total
                                           : static_cast<std::uint32_t>(capacity)};
        return CaptureReceive::datagram;
    }
    if (error != WSAEINTR) {
        Sleep(failed_receive_pause_ms);
    }
    return CaptureReceive::failed;
}

CaptureDrops platform_capture_drops(Capture* /*capture*/) {
    // A raw socket on Windows does not count what it could not keep.
    return CaptureDrops{0, false};
}
