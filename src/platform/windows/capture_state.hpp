// What a capture holds on Windows, and the steps that open it: only this
// backend (and its tests) look inside.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "platform/capture.hpp"

struct Capture {
    bool in_use;  // a slot of the backend's table that is open
    SOCKET socket;
};

// The steps of platform_open_capture on an existing socket: bind it to the
// local address, then switch on receive-all. Each returns the WSAGetLastError
// code of its failure, or 0.
int bind_capture_socket(SOCKET socket, std::uint32_t listen_address);
int switch_on_receive_all(SOCKET socket);
