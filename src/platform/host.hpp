// The host's network layer and its addresses: starting the layer (where the
// system has one to start), the local host's IPv4 addresses, and dotted-quad
// text. One backend per platform implements this header and the others of
// this folder (linux/, windows/: the same file names on both sides); CMake
// picks which one is built. The headers include no system header, and
// neither does any caller.
#pragma once

#include <cstdint>

// --- The network layer ---------------------------------------------------------

// What starting the network layer gave: whether it started, and the two
// texts every start prints about it (its description and its status), or
// why it did not start.
struct NetworkStart {
    bool started;
    const char* description;  // kept by the backend for the whole run
    const char* status;
    char failure[256];  // when it did not start: the system's reason
};

NetworkStart platform_start_network();

// Stops the network layer; safe to register with atexit.
void platform_stop_network();

// --- Local addresses ------------------------------------------------------------

inline constexpr int max_local_addresses = 256;

// The local host's IPv4 addresses, network byte order, in the platform's order
// (on Linux non-loopback first, loopback last; on Windows the system's order).
// With more addresses than the list holds, the loopback addresses keep their
// room and `left_out` tells how many others did not fit.
struct LocalAddressList {
    std::uint32_t address[max_local_addresses];
    int count;
    int left_out;
};

enum class LocalAddressStatus {
    ok,                // the list is filled (it may be empty)
    host_name_failed,  // the host name could not be had, or was empty
    lookup_failed,     // the name was had, but its addresses were not
};

LocalAddressStatus platform_local_addresses(LocalAddressList* list);

// Dotted-quad text to an address in network byte order, with inet_addr's
// meaning: "0.0.0.0" gives 0, text that cannot be read gives 0xFFFFFFFF.
std::uint32_t platform_inet_addr(const char* text);
