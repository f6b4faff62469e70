// Names of the ICMP message types 0 to 19 (RFC 792), as the detail view shows
// them.
#include "render/tables/icmp_type_names.hpp"

// Slot 19 has no name: the detail view prints it as "(null)" itself.
constexpr const char* IcmpTypeNames[icmp_type_name_slots] = {
    "echo reply(ping)",         // 0
    "Host unreachable",         // 1
    "undefined",                // 2
    "destination unreachable",  // 3
    "source quench",            // 4
    "redirect (route change)",  // 5
    "undefined",                // 6
    "undefined",                // 7
    "echo request(ping)",       // 8
    "undefined",                // 9
    "undefined",                // 10
    "time exceeded",            // 11
    "Parameter problem",        // 12
    "timestamp request",        // 13
    "timestamp reply",          // 14
    "undefined",                // 15
    "undefined",                // 16
    "address mask request",     // 17
    "address mask reply",       // 18
    nullptr,                    // 19
};
