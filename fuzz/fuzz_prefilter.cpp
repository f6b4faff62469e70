// libFuzzer entry for fuzz_prefilter; the body is fuzz_prefilter_one.
#include <cstddef>
#include <cstdint>

#include "fuzz_prefilter_entry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_prefilter_one(data, size);
}
