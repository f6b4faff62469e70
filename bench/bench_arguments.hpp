// What the bounded loopback benchmark programs share: reading their numeric
// arguments, and refusing any destination outside 127.0.0.0/8.
#pragma once

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>

// A decimal number 0..limit, the whole text; false otherwise.
inline bool read_number(const char* text, unsigned long limit, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || number > limit) {
        return false;
    }
    *value = number;
    return true;
}

enum class LoopbackAddress { ok, unreadable, not_loopback };

// Reads a dotted-quad destination into `address`. Loopback only: these
// programs must never put load on a real network; `program` names the refusal.
inline LoopbackAddress read_loopback_address(const char* program, const char* text,
                                             in_addr* address) {
    if (inet_pton(AF_INET, text, address) != 1) {
        return LoopbackAddress::unreadable;
    }
    if ((ntohl(address->s_addr) >> 24) != 127) {
        std::fprintf(stderr, "%s: %s is not a loopback address (127.0.0.0/8)\n", program, text);
        return LoopbackAddress::not_loopback;
    }
    return LoopbackAddress::ok;
}
