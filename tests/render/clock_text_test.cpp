// The time texts of the summary and detail views, for chosen clock readings.
#include <gtest/gtest.h>

#include <string>

#include "render/detail.hpp"
#include "render/summary.hpp"
#include "render_test_support.hpp"

namespace {

// The second line of the summary of an all-zero datagram.
std::string summary_line(int hour, int minute, int second, int milliseconds) {
    const LocalTime time{0, 0, 1, hour, minute, second, milliseconds};
    auto packet = render_test::make_packet();
    const std::string text = render_test::printed(
        [&](std::FILE* stream) { print_summary(stream, packet->bytes, 20, time); });
    const auto line_start = text.find('\n') + 1;
    return text.substr(line_start);
}

TEST(ClockText, SummaryTimeHasFourDigitMilliseconds) {
    struct Case {
        int time[4];  // hour, minute, second, milliseconds
        const char* line;
    };
    const Case cases[] = {
        {{9, 5, 3, 7}, "09:05:03.0007 Reserved 0.0.0.0:0 -[20bytes]-> 0.0.0.0:0 \n"},
        {{9, 5, 3, 999}, "09:05:03.0999 Reserved 0.0.0.0:0 -[20bytes]-> 0.0.0.0:0 \n"},
        {{0, 0, 0, 0}, "00:00:00.0000 Reserved 0.0.0.0:0 -[20bytes]-> 0.0.0.0:0 \n"},
        {{23, 59, 59, 42}, "23:59:59.0042 Reserved 0.0.0.0:0 -[20bytes]-> 0.0.0.0:0 \n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(summary_line(c.time[0], c.time[1], c.time[2], c.time[3]), c.line)
            << "milliseconds " << c.time[3];
    }
}

// The bracketed date line that opens the detail view.
std::string date_line(const LocalTime& time) {
    auto packet = render_test::make_packet();
    const std::string text = render_test::printed(
        [&](std::FILE* stream) { print_detail(stream, packet->bytes, 20, time); });
    if (text.rfind("\n\n\n", 0) != 0) {
        return "no blank lines before the date: " + text.substr(0, 40);
    }
    return text.substr(3, text.find('\n', 3) - 3);
}

TEST(ClockText, DetailDateNamesEveryWeekdayAndMonth) {
    struct Case {
        LocalTime time;  // weekday, month, day, hour, minute, second
        const char* line;
    };
    const Case cases[] = {
        {{0, 0, 1, 0, 0, 0, 0}, "[Sun Jan 01 00:00:00]"},
        {{1, 1, 8, 1, 2, 3, 0}, "[Mon Feb 08 01:02:03]"},
        {{2, 2, 9, 9, 9, 9, 0}, "[Tue Mar 09 09:09:09]"},
        {{3, 3, 10, 10, 10, 10, 0}, "[Wed Apr 10 10:10:10]"},
        {{4, 4, 15, 12, 30, 45, 0}, "[Thu May 15 12:30:45]"},
        {{5, 5, 20, 13, 0, 0, 0}, "[Fri Jun 20 13:00:00]"},
        {{6, 6, 28, 18, 45, 1, 0}, "[Sat Jul 28 18:45:01]"},
        {{0, 7, 29, 19, 0, 59, 0}, "[Sun Aug 29 19:00:59]"},
        {{1, 8, 30, 20, 20, 20, 0}, "[Mon Sep 30 20:20:20]"},
        {{2, 9, 31, 21, 21, 21, 0}, "[Tue Oct 31 21:21:21]"},
        {{3, 10, 8, 22, 22, 22, 0}, "[Wed Nov 08 22:22:22]"},
        {{4, 11, 8, 23, 59, 60, 0}, "[Thu Dec 08 23:59:60]"},  // a leap second
    };
    for (const Case& c : cases) {
        EXPECT_EQ(date_line(c.time), c.line);
    }
}

// A clock that gives a weekday or month outside the name lists must not make
// the view read outside them.
TEST(ClockText, DetailDateShowsUnknownNamesOutsideTheLists) {
    EXPECT_EQ(date_line({7, 12, 8, 4, 20, 20, 0}), "[??? ??? 08 04:20:20]");
    EXPECT_EQ(date_line({-1, -1, 8, 4, 20, 20, 0}), "[??? ??? 08 04:20:20]");
}

}  // namespace
