// libFuzzer entry for fuzz_render; the body is fuzz_render_one.
#include <cstddef>
#include <cstdint>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_render_one(data, size);
}
