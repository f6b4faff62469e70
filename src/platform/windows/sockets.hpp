// Windows Sockets for this backend's files: starting a version of it, and the
// text of its error codes.
#pragma once

#include <cstddef>

#include "platform/host.hpp"

// Starts Windows Sockets asking for `version` (0x0202 for 2.2): the texts its
// start-up gives, or the reason it refused.
NetworkStart start_windows_sockets(unsigned short version);

// "MESSAGE (Windows Sockets error CODE)", or "Windows Sockets error CODE"
// where the system has no message for it, into `text` (`size` bytes).
void describe_socket_error(int code, char* text, std::size_t size);
