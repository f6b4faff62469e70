// Names of ICMP types 0 to 19 (RFC 792); slot 19 has no name.
#pragma once

inline constexpr int icmp_type_name_slots = 20;

extern const char* const IcmpTypeNames[icmp_type_name_slots];
