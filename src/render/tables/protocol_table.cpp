// IP protocol numbers 0 to 100 with keyword and description (IANA protocol
// numbers, RFC 790 and successors), and their lookup.
#include "render/tables/protocol_table.hpp"

// Defined constexpr after the header's extern declaration, so the table keeps
// external linkage and is still checked at compile time below.
constexpr ProtocolRow ProtocolTable[protocol_table_size] = {
    {"Reserved", "Reserved"},                                  // 0
    {"ICMP", "Internet Control Message"},                      // 1
    {"IGMP", "Internet Group Management"},                     // 2
    {"GGP", "Gateway-to-Gateway"},                             // 3
    {"IP", "IP in IP (encapsulation)"},                        // 4
    {"ST", "Stream"},                                          // 5
    {"TCP", "Transmission Control"},                           // 6
    {"UCL", "UCL"},                                            // 7
    {"EGP", "Exterior Gateway Protocol"},                      // 8
    {"IGP", "any private interior gateway"},                   // 9
    {"BBN-RCC-MON", "BBN RCC Monitoring"},                     // 10
    {"NVP-II", "Network Voice Protocol"},                      // 11
    {"PUP", "PUP"},                                            // 12
    {"ARGUS", "ARGUS"},                                        // 13
    {"EMCON", "EMCON"},                                        // 14
    {"XNET", "Cross Net Debugger"},                            // 15
    {"CHAOS", "Chaos"},                                        // 16
    {"UDP", "User Datagram"},                                  // 17
    {"MUX", "Multiplexing"},                                   // 18
    {"DCN-MEAS", "DCN Measurement Subsystems"},                // 19
    {"HMP", "Host Monitoring"},                                // 20
    {"PRM", "Packet Radio Measurement"},                       // 21
    {"XNS-IDP", "XEROX NS IDP"},                               // 22
    {"TRUNK-1", "Trunk-1"},                                    // 23
    {"TRUNK-2", "Trunk-2"},                                    // 24
    {"LEAF-1", "Leaf-1"},                                      // 25
    {"LEAF-2", "Leaf-2"},                                      // 26
    {"RDP", "Reliable Data Protocol"},                         // 27
    {"IRTP", "Internet Reliable Transaction"},                 // 28
    {"ISO-TP4", "ISO Transport Protocol Class 4"},             // 29
    {"NETBLT", "Bulk Data Transfer Protocol"},                 // 30
    {"MFE-NSP", "MFE Network Services Protocol"},              // 31
    {"MERIT-INP", "MERIT Internodal Protocol"},                // 32
    {"SEP", "Sequential Exchange Protocol"},                   // 33
    {"3PC", "Third Party Connect Protocol"},                   // 34
    {"IDPR", "Inter-Domain Policy Routing Protocol"},          // 35
    {"XTP", "XTP"},                                            // 36
    {"DDP", "Datagram Delivery Protocol"},                     // 37
    {"IDPR-CMTP", "IDPR Control Message Transport Protocol"},  // 38
    {"TP++", "TP++ Transport Protocol"},                       // 39
    {"IL", "IL Transport Protocol"},                           // 40
    {"IPv6", "Ipv6"},                                          // 41
    {"SDRP", "Source Demand Routing Protocol"},                // 42
    {"IPv6-Route", "Routing Header for IPv6"},                 // 43
    {"IPv6-Frag", "Fragment Header for IPv6"},                 // 44
    {"IDRP", "Inter-Domain Routing Protocol"},                 // 45
    {"RSVP", "Reservation Protocol"},                          // 46
    {"GRE", "General Routing Encapsulation"},                  // 47
    {"MHRP", "Mobile Host Routing Protocol"},                  // 48
    {"BNA", "BNA"},                                            // 49
    {"IPv6-Crypt", "Encryption Header for IPv6"},              // 50
    {"IPv6-Auth", "Authentication Header for IPv6"},           // 51
    {"I-NLSP", "Integrated Net Layer Security TUBA"},          // 52
    {"SWIPE", "IP with Encryption"},                           // 53
    {"NARP", "NBMA Address Resolution Protocol"},              // 54
    {"MOBILE", "IP Mobility"},                                 // 55
    {"TLSP", "Transport Layer Security Protocol"},             // 56
    {"Unassigned", ""},                                        // 57
    {"IPv6-ICMP", "ICMP for IPv6"},                            // 58
    {"IPv6-NoNxt", "No Next Header for IPv6"},                 // 59
    {"IPv6-Opts", "Destination Options for IPv6"},             // 60
    {"A.H.I.P.", "any host internal protocol"},                // 61
    {"CFTP", "CFTP"},                                          // 62
    {"A.L.N.", "any local network"},                           // 63
    {"SAT-EXPAK", "SATNET and Backroom EXPAK"},                // 64
    {"KRYPTOLAN", "Kryptolan"},                                // 65
    {"RVD", "MIT Remote Virtual Disk Protocol"},               // 66
    {"IPPC", "Internet Pluribus Packet Core"},                 // 67
    {"A.D.F.S.", "any distributed file system"},               // 68
    {"SAT-MON", "SATNET Monitoring"},                          // 69
    {"VISA", "VISA Protocol"},                                 // 70
    {"IPCV", "Internet Packet Core Utility"},                  // 71
    {"CPNX", "Computer Protocol Network Executive"},           // 72
    {"CPHB", "Computer Protocol Heart Beat"},                  // 73
    {"WSN", "Wang Span Network"},                              // 74
    {"PVP", "Packet Video Protocol"},                          // 75
    {"BR-SAT-MON", "Backroom SATNET Monitoring"},              // 76
    {"SUN-ND", "SUN ND PROTOCOL-Temporary"},                   // 77
    {"WB-MON", "WIDEBAND Monitoring"},                         // 78
    {"WB-EXPAK", "WIDEBAND EXPAK"},                            // 79
    {"ISO-IP", "ISO Internet Protocol"},                       // 80
    {"VMTP", "VMTP"},                                          // 81
    {"SECURE-VMTP", "SECURE-VMTP"},                            // 82
    {"VINES", "VINES"},                                        // 83
    {"TTP", "TTP"},                                            // 84
    {"NSFNET-IGP", "NSFNET-IGP"},                              // 85
    {"DGP", "Dissimilar Gateway Protocol"},                    // 86
    {"TCF", "TCF"},                                            // 87
    {"IGRP", "IGRP"},                                          // 88
    {"OSPFIGP", "OSPFIGP"},                                    // 89
    {"Sprite-RPC", "Sprite RPC Protocol"},                     // 90
    {"LARP", "Locus Address Resolution Protocol"},             // 91
    {"MTP", "Multicast Transport Protocol"},                   // 92
    {"AX.25", "AX.25 Frames"},                                 // 93
    {"IPIP", "IP-within-IP Encapsulation Protocol"},           // 94
    {"MICP", "Mobile Internetworking Control Pro."},           // 95
    {"SCC-SP", "Semaphore Communications Sec. Pro."},          // 96
    {"ETHERIP", "Ethernet-within-IP Encapsulation"},           // 97
    {"ENCAP", "Encapsulation Header"},                         // 98
    {"A.P.E.S.", "any private encryption scheme"},             // 99
    {"GMTP", "GMTP"},                                          // 100
};

namespace {

// A short initializer list would leave trailing rows null; every row has both texts.
constexpr bool rows_are_complete() {
    for (const ProtocolRow& row : ProtocolTable) {
        if (row.keyword == nullptr || row.keyword[0] == '\0' || row.description == nullptr) {
            return false;
        }
    }
    return true;
}

static_assert(rows_are_complete());

}  // namespace

const char* protocol_keyword(std::uint8_t number) {
    return number < protocol_table_size ? ProtocolTable[number].keyword : nullptr;
}

const char* protocol_description(std::uint8_t number) {
    return number < protocol_table_size ? ProtocolTable[number].description : nullptr;
}
