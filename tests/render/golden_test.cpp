// Golden files: each NAME.in in tests/data/render holds a datagram and the
// views to render; NAME.out holds the exact bytes expected with the fixed
// clock. Adding a case is adding the two files.
//
// After a deliberate change of output, PKTWATCH_UPDATE_GOLDEN=1 rewrites the
// .out files from the renderers (review the diff before committing it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"
#include "render_test_support.hpp"
#include "support/text.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path golden_folder = fs::path(PKTWATCH_TEST_DATA) / "render";

std::vector<std::string> golden_case_names() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(golden_folder, error)) {
        if (entry.path().extension() == ".in") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

struct GoldenInput {
    std::string views;
    int length = -1;  // -1: the number of bytes given
    int byte_count = 0;
};

// Reads "view: a+b", "length: N", hex bytes and # comments into `packet`.
// Returns false (with a test failure) on anything it cannot read.
bool parse_golden_input(const std::string& text, GoldenInput* input, std::uint8_t* packet) {
    std::istringstream lines(text);
    std::string line;
    int line_number = 0;
    while (std::getline(lines, line)) {
        ++line_number;
        line = trim(line.substr(0, line.find('#')));
        if (line.rfind("view:", 0) == 0) {
            input->views = trim(line.substr(5));
            continue;
        }
        if (line.rfind("length:", 0) == 0) {
            input->length = std::atoi(line.substr(7).c_str());
            continue;
        }
        std::istringstream tokens(line);
        std::string token;
        while (tokens >> token) {
            const bool hex =
                token.size() <= 2 && std::all_of(token.begin(), token.end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                });
            if (!hex) {
                ADD_FAILURE() << "line " << line_number << ": not a hex byte: " << token;
                return false;
            }
            if (input->byte_count == packet_buffer_size) {
                ADD_FAILURE() << "more than " << packet_buffer_size << " bytes";
                return false;
            }
            packet[input->byte_count++] =
                static_cast<std::uint8_t>(std::strtoul(token.c_str(), nullptr, 16));
        }
    }
    if (input->views.empty()) {
        ADD_FAILURE() << "no 'view:' line";
        return false;
    }
    if (input->length < 0) {
        input->length = input->byte_count;
    }
    return true;
}

// Renders each view of "summary+detail+..." in turn on `stream`.
bool render_views(std::FILE* stream, const std::string& views, PacketBytes packet, int length) {
    std::istringstream parts(views);
    std::string view;
    while (std::getline(parts, view, '+')) {
        view = trim(view);
        if (view == "summary") {
            print_summary(stream, packet, length, render_test::fixed_summary_time);
        } else if (view == "port") {
            print_port_line(stream, packet, length);
        } else if (view == "detail") {
            print_detail(stream, packet, length, render_test::fixed_detail_time);
        } else if (view == "echo") {
            print_console_echo(stream, packet, length);
        } else if (view == "dump") {
            print_hex_dump(stream, packet, length);
        } else {
            ADD_FAILURE() << "unknown view: " << view;
            return false;
        }
    }
    return true;
}

// Where the first difference lies, as line and column, for the failure text.
std::string first_difference(const std::string& expected, const std::string& actual) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) {
        ++at;
    }
    const auto line = std::count(expected.begin(), expected.begin() + static_cast<long>(at), '\n');
    const auto line_start = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const auto column = line_start == std::string::npos || at == 0 ? at : at - line_start - 1;
    return "byte " + std::to_string(at) + " (line " + std::to_string(line + 1) + ", column " +
           std::to_string(column + 1) + ")";
}

class GoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, RendersExactBytes) {
    const std::string name = GetParam();
    bool found = false;
    const std::string input_text =
        test_support::read_file((golden_folder / (name + ".in")).string(), &found);
    ASSERT_TRUE(found) << name << ".in";

    auto packet = render_test::make_packet();
    GoldenInput input;
    ASSERT_TRUE(parse_golden_input(input_text, &input, packet->bytes)) << name << ".in";

    bool rendered = true;
    const std::string actual = render_test::printed([&](std::FILE* stream) {
        rendered = render_views(stream, input.views, packet->bytes, input.length);
    });
    ASSERT_TRUE(rendered) << name << ".in";

    const fs::path out_path = golden_folder / (name + ".out");
    const char* update = std::getenv("PKTWATCH_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
        out << actual;
        ASSERT_TRUE(static_cast<bool>(out)) << "could not rewrite " << out_path;
        std::printf("rewrote %s\n", out_path.string().c_str());
        return;
    }

    const std::string expected = test_support::read_file(out_path.string(), &found);
    ASSERT_TRUE(found) << name << ".out is missing (PKTWATCH_UPDATE_GOLDEN=1 writes it)";
    EXPECT_EQ(expected, actual) << name << ": first difference at "
                                << first_difference(expected, actual);
}

std::string case_test_name(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, GoldenTest, ::testing::ValuesIn(golden_case_names()),
                         case_test_name);

// The cases above are found at start-up: make sure the folder was found too.
TEST(GoldenFolder, HoldsTheCases) {
    const auto names = golden_case_names();
    EXPECT_GE(names.size(), 30u) << golden_folder;
    for (const auto& name : names) {
        EXPECT_TRUE(fs::exists(golden_folder / (name + ".out"))) << name << ".out is missing";
    }
}

}  // namespace
