// Helpers shared by the renderer tests: a fixed clock, a receive buffer of
// exactly 2000 bytes on its own (so the sanitizers see any read past it), and
// the text a renderer writes to a stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "monitor/packet.hpp"
#include "render/clock.hpp"

namespace render_test {

// 09:05:03.042 on Tue Dec 08, 04:20:20 by the calendar.
inline TimeOfDay fixed_time_of_day() {
    return TimeOfDay{9, 5, 3, 42};
}
inline CalendarTime fixed_calendar_time() {
    return CalendarTime{2, 11, 8, 4, 20, 20};
}

// Points the renderers at the fixed clock for one test and back afterwards.
class FixedClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_time_of_day_ = render_time_of_day;
        saved_calendar_time_ = render_calendar_time;
        render_time_of_day = fixed_time_of_day;
        render_calendar_time = fixed_calendar_time;
    }
    void TearDown() override {
        render_time_of_day = saved_time_of_day_;
        render_calendar_time = saved_calendar_time_;
    }

private:
    TimeOfDay (*saved_time_of_day_)() = nullptr;
    CalendarTime (*saved_calendar_time_)() = nullptr;
};

// A zeroed buffer allocated on its own: a read one byte past it is a heap
// overflow the address sanitizer reports.
struct HeapPacket {
    std::uint8_t bytes[packet_buffer_size];
};

inline std::unique_ptr<HeapPacket> make_packet() {
    return std::make_unique<HeapPacket>();
}

// Runs `render` on a temporary file and returns every byte it wrote.
template <typename Render>
std::string capture(Render render) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "tmpfile() failed";
        return {};
    }
    render(file);
    std::string text;
    std::rewind(file);
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, count);
    }
    std::fclose(file);
    return text;
}

}  // namespace render_test
