// The port lookup against a plain walk of the table: for every 16-bit port
// it gives the first row with that port, or the terminator.
#include <gtest/gtest.h>

#include <cstdint>

#include "render/tables/port_name_table.hpp"

namespace {

int first_row_walking(std::uint16_t port) {
    int index = 0;
    while (PortNameTable[index].port != 0 && PortNameTable[index].port != port) {
        ++index;
    }
    return index;
}

TEST(PortIndex, EveryPortGivesTheRowAWalkOfTheTableFindsFirst) {
    for (int value = 0; value <= 65535; ++value) {
        const auto port = static_cast<std::uint16_t>(value);
        ASSERT_EQ(find_port_index(port), first_row_walking(port)) << "port " << value;
    }
}

}  // namespace
