// Local time and console text on Windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "support/text.hpp"

namespace {

// The wall clock in local time against the C runtime's own local time: the
// same second of the same day (taken again when a second boundary fell
// between the two).
TEST(WindowsClock, AgreesWithTheRuntimesLocalTime) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const WallClock now = platform_wall_clock();
        const std::time_t after = std::time(nullptr);
        if (before != after) {
            continue;
        }
        EXPECT_EQ(now.seconds, static_cast<std::int64_t>(before));
        const LocalTime time = platform_local_time(now);
        const std::tm local = *std::localtime(&before);
        EXPECT_EQ(time.weekday, local.tm_wday);
        EXPECT_EQ(time.month, local.tm_mon);
        EXPECT_EQ(time.day, local.tm_mday);
        EXPECT_EQ(time.hour, local.tm_hour);
        EXPECT_EQ(time.minute, local.tm_min);
        EXPECT_EQ(time.second, local.tm_sec);
        EXPECT_EQ(time.milliseconds, now.nanoseconds / 1000000);
        return;
    }
    FAIL() << "the second changed on every attempt";
}

TEST(WindowsConsole, JapaneseTextIsShiftJisWhenNotOnAConsole) {
    EXPECT_EQ(platform_console_init(), ConsoleEncoding::shift_jis);
}

// A file is no console: the caller is told to write the encoded bytes itself,
// and nothing reaches the file.
TEST(WindowsConsole, FileStreamGetsNoUtf16) {
    std::FILE* file = test_support::temporary_stream();
    ASSERT_NE(file, nullptr);
    const char text[] = "\xE3\x83\x9D";  // U+30DD
    EXPECT_FALSE(platform_write_console_text(file, text, sizeof text - 1));
    EXPECT_EQ(std::ftell(file), 0L);
    // Nor is it the same terminal as anything: a failure line written after
    // an unended one to a file gets no line end of its own.
    EXPECT_FALSE(platform_same_terminal(file, file));
    EXPECT_FALSE(platform_same_terminal(file, stderr));
    std::fclose(file);
}

}  // namespace
