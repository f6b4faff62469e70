// libFuzzer entry for fuzz_capture_file; the body is fuzz_capture_file_one.
#include <cstddef>
#include <cstdint>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz_capture_file_one(data, size);
}
