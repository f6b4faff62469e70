// The protocol, port and ICMP name tables and the port label.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "render/port_label.hpp"
#include "render/tables/icmp_type_names.hpp"
#include "render/tables/port_name_table.hpp"
#include "render/tables/protocol_table.hpp"

namespace {

std::string label_of(std::uint16_t port) {
    char label[port_label_size];
    std::memset(label, 'x', sizeof label);
    const char* result = format_port_label(port, label);
    EXPECT_EQ(result, label);
    return label;
}

TEST(PortNameTable, EndsWithTheTerminatorAfterDbbrowse) {
    static_assert(sizeof PortNameTable / sizeof PortNameTable[0] == 886);
    EXPECT_EQ(PortNameTable[885].port, 0);
    EXPECT_STREQ(PortNameTable[885].name, "");
    EXPECT_EQ(PortNameTable[884].port, 47557);
    EXPECT_STREQ(PortNameTable[884].name, "dbbrowse");
    for (int index = 0; index < port_name_rows; ++index) {
        EXPECT_NE(PortNameTable[index].port, 0) << "row " << index;
    }
}

TEST(PortNameTable, RepeatedPortsGiveTheFirstRowsName) {
    struct Case {
        std::uint16_t port;
        const char* name;
    };
    const Case cases[] = {
        {385, "ibm-app"},        {475, "tcpnethaspsrv"},  {666, "mdqs"},
        {730, "netviewdm2"},     {731, "netviewdm3"},     {999, "garcon"},
        {1417, "timbuktu-srv1"}, {1454, "interhdl_elmd"}, {1525, "orasrv"},
        {1579, "ioc-sea-lm"},    {1989, "tr-rsrb-p3"},    {1992, "stun-p3"},
        {4444, "krb524"},
    };
    std::set<int> expected;
    for (const Case& c : cases) {
        expected.insert(c.port);
        const int index = find_port_index(c.port);
        ASSERT_LT(index, port_name_rows) << c.port;
        EXPECT_EQ(PortNameTable[index].port, c.port);
        EXPECT_STREQ(PortNameTable[index].name, c.name) << c.port;
        EXPECT_EQ(PortNameTable[index + 1].port, c.port) << "second row of " << c.port;
        EXPECT_EQ(label_of(c.port), std::string(c.name) + "(" + std::to_string(c.port) + ")");
    }

    std::set<int> seen;
    std::set<int> repeated;
    for (int index = 0; index < port_name_rows; ++index) {
        if (!seen.insert(PortNameTable[index].port).second) {
            repeated.insert(PortNameTable[index].port);
        }
    }
    EXPECT_EQ(repeated, expected);
}

TEST(PortNameTable, AscendingExceptTwoPlaces) {
    std::set<std::pair<int, int>> descents;
    for (int index = 1; index < port_name_rows; ++index) {
        const int before = PortNameTable[index - 1].port;
        const int after = PortNameTable[index].port;
        if (after < before) {
            descents.insert({before, after});
        }
    }
    const std::set<std::pair<int, int>> expected = {{607, 606}, {3986, 3421}};
    EXPECT_EQ(descents, expected);
    // Both out-of-order ports are still found.
    EXPECT_EQ(label_of(606), "urm(606)");
    EXPECT_EQ(label_of(3421), "bmap(3421)");
}

TEST(PortNameTable, ThirtyTwoRowsCarryTheirOwnNumber) {
    const std::set<int> expected = {4,  6,   8,   10,  12,  14,  15,  16,  24,   26,  28,
                                    30, 32,  34,  35,  36,  40,  57,  59,  60,   75,  77,
                                    87, 242, 244, 516, 542, 548, 549, 554, 1023, 1024};
    std::set<int> self_named;
    for (int index = 0; index < port_name_rows; ++index) {
        if (std::to_string(PortNameTable[index].port) == PortNameTable[index].name) {
            self_named.insert(PortNameTable[index].port);
        }
    }
    EXPECT_EQ(self_named, expected);
}

TEST(PortNameTable, NamesAreShortAndPlain) {
    int with_space = 0;
    for (int index = 0; index < port_name_rows; ++index) {
        const char* name = PortNameTable[index].name;
        ASSERT_NE(name, nullptr) << "row " << index;
        const std::size_t length = std::strlen(name);
        EXPECT_GE(length, 1u) << "row " << index;
        EXPECT_LE(length, 15u) << "row " << index;
        for (const char* p = name; *p != '\0'; ++p) {
            const bool allowed = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                                 (*p >= '0' && *p <= '9') || std::strchr("-_.+*/", *p) != nullptr;
            if (*p == ' ') {
                ++with_space;
                EXPECT_EQ(PortNameTable[index].port, 1355);
            } else {
                EXPECT_TRUE(allowed) << "row " << index << " name " << name;
            }
        }
    }
    EXPECT_EQ(with_space, 1);
}

TEST(FormatPortLabel, KnownAndUnknownPorts) {
    struct Case {
        std::uint16_t port;
        const char* label;
    };
    const Case cases[] = {
        {80, "http(80)"},
        {443, "https(443)"},
        {47557, "dbbrowse(47557)"},
        {666, "mdqs(666)"},
        {1, "tcpmux(1)"},
        {4, "4(4)"},
        {1024, "1024(1024)"},
        {1355, "intuitive edge(1355)"},
        {25009, "icl-twobase10(25009)"},
        {0, "0"},
        {65535, "65535"},
        {3389, "3389"},
        {224, "224"},
        {47556, "47556"},
        {47558, "47558"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(label_of(c.port), c.label) << c.port;
    }
}

TEST(FindPortIndex, ZeroAndUnlistedPortsGiveTheTerminator) {
    EXPECT_EQ(find_port_index(0), port_name_rows);
    EXPECT_EQ(find_port_index(65535), port_name_rows);
    EXPECT_EQ(find_port_index(3389), port_name_rows);
    EXPECT_EQ(find_port_index(1), 0);
    EXPECT_EQ(find_port_index(47557), port_name_rows - 1);
}

TEST(FindPortIndex, EveryPortFindsItsFirstRowAndALabelThatFits) {
    int named = 0;
    for (int value = 0; value <= 65535; ++value) {
        const auto port = static_cast<std::uint16_t>(value);
        const int index = find_port_index(port);
        ASSERT_GE(index, 0);
        ASSERT_LE(index, port_name_rows);
        if (index < port_name_rows) {
            ++named;
            ASSERT_EQ(PortNameTable[index].port, port);
        }
        const std::string label = label_of(port);
        ASSERT_LT(label.size(), static_cast<std::size_t>(port_label_size));
        const std::string suffix = "(" + std::to_string(value) + ")";
        if (index < port_name_rows) {
            ASSERT_EQ(label, PortNameTable[index].name + suffix);
        } else {
            ASSERT_EQ(label, std::to_string(value));
        }
    }
    EXPECT_EQ(named, port_name_rows - 13);
}

TEST(ProtocolTable, KeywordsAndDescriptions) {
    struct Case {
        std::uint8_t number;
        const char* keyword;
        const char* description;
    };
    const Case cases[] = {
        {0, "Reserved", "Reserved"},
        {1, "ICMP", "Internet Control Message"},
        {6, "TCP", "Transmission Control"},
        {17, "UDP", "User Datagram"},
        {39, "TP++", "TP++ Transport Protocol"},
        {57, "Unassigned", ""},
        {95, "MICP", "Mobile Internetworking Control Pro."},
        {100, "GMTP", "GMTP"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(protocol_keyword(c.number), nullptr) << int{c.number};
        ASSERT_NE(protocol_description(c.number), nullptr) << int{c.number};
        EXPECT_STREQ(protocol_keyword(c.number), c.keyword);
        EXPECT_STREQ(protocol_description(c.number), c.description);
    }
}

TEST(ProtocolTable, NumbersAbove100HaveNoRow) {
    for (int number = 0; number <= 255; ++number) {
        const auto value = static_cast<std::uint8_t>(number);
        if (number <= 100) {
            EXPECT_NE(protocol_keyword(value), nullptr) << number;
            EXPECT_NE(protocol_description(value), nullptr) << number;
        } else {
            EXPECT_EQ(protocol_keyword(value), nullptr) << number;
            EXPECT_EQ(protocol_description(value), nullptr) << number;
        }
    }
}

TEST(IcmpTypeNames, EverySlot) {
    const char* const expected[icmp_type_name_slots] = {
        "echo reply(ping)",
        "Host unreachable",
        "undefined",
        "destination unreachable",
        "source quench",
        "redirect (route change)",
        "undefined",
        "undefined",
        "echo request(ping)",
        "undefined",
        "undefined",
        "time exceeded",
        "Parameter problem",
        "timestamp request",
        "timestamp reply",
        "undefined",
        "undefined",
        "address mask request",
        "address mask reply",
        nullptr,  // slot 19 has no text
    };
    for (int type = 0; type < icmp_type_name_slots; ++type) {
        if (expected[type] == nullptr) {
            EXPECT_EQ(IcmpTypeNames[type], nullptr) << type;
        } else {
            EXPECT_STREQ(IcmpTypeNames[type], expected[type]) << type;
        }
    }
}

}  // namespace
