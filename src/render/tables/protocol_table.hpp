// IP protocol numbers 0 to 100 with keyword and description (IANA assignments,
// in the program's own wording).
#pragma once

#include <cstdint>

struct ProtocolRow {
    const char* keyword;
    const char* description;
};

inline constexpr int protocol_table_size = 101;

extern const ProtocolRow ProtocolTable[protocol_table_size];

// The row's keyword or description, or nullptr when the number has no row
// (above 100): the caller shows its own fallback.
const char* protocol_keyword(std::uint8_t number);
const char* protocol_description(std::uint8_t number);
