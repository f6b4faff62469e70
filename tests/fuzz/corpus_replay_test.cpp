// Runs every input of the fuzz corpus (seeds and every input that ever failed)
// through its fuzz target's body, under this build's sanitizers. A failing
// input stops the test binary; the last "replaying" line on standard error
// names it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.hpp"
#include "fuzz_prefilter_entry.hpp"

namespace {

struct FuzzTarget {
    const char* name;
    int (*run_one)(const std::uint8_t* data, std::size_t size);
};

constexpr FuzzTarget fuzz_targets[] = {
    {"fuzz_render", fuzz_render_one},
    {"fuzz_command_line", fuzz_command_line_one},
    {"fuzz_dialogue", fuzz_dialogue_one},
    {"fuzz_prefilter", fuzz_prefilter_one},
    {"fuzz_capture_file", fuzz_capture_file_one},
};

std::vector<std::filesystem::path> corpus_files(const char* target) {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path folder = std::filesystem::path(PKTWATCH_FUZZ_CORPUS) / target;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusReplay : public testing::TestWithParam<FuzzTarget> {};

TEST_P(CorpusReplay, EveryInputRunsCleanly) {
    const std::vector<std::filesystem::path> files = corpus_files(GetParam().name);
    // Each target keeps a seed corpus; an empty folder means it went missing.
    ASSERT_FALSE(files.empty()) << "no corpus for " << GetParam().name;
    for (const std::filesystem::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        ASSERT_TRUE(stream) << file;
        const std::vector<char> bytes{std::istreambuf_iterator<char>(stream),
                                      std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replaying %s\n", file.string().c_str());
        // The bytes are copied to an exact-size buffer so a read past the
        // input's end is caught as it would be under the fuzzer.
        std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
        EXPECT_EQ(GetParam().run_one(input.data(), input.size()), 0) << file;
    }
}

std::string target_name(const testing::TestParamInfo<FuzzTarget>& target) {
    return target.param.name;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, testing::ValuesIn(fuzz_targets), target_name);

}  // namespace
