// libFuzzer entry for fuzz_dialogue; the body is fuzz_dialogue_one.
#include <cstddef>
#include <cstdint>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_dialogue_one(data, size);
}
