// libFuzzer entry for fuzz_command_line; the body is fuzz_command_line_one.
#include <cstddef>
#include <cstdint>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_command_line_one(data, size);
}
