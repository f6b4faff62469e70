// The question-and-answer set-up used when pktwatch starts without arguments.
// Answers are read a line at a time into fixed buffers; a line longer than its
// buffer keeps the bytes that fit and the rest of it is discarded, except a
// log file name, which is asked for again. When the
// input ends, a yes/no question takes its default and any other question ends
// the set-up as failed, after one line saying so.
#include "config/dialogue.hpp"

#include <cstddef>

#include "console/messages.hpp"

namespace {

constexpr std::size_t yes_no_answer_size = 80;
constexpr std::size_t text_answer_size = 260;
constexpr std::size_t choice_answer_size = 256;

static_assert(text_answer_size <= log_path_size, "a log file name answer must fit log_path");

// A line that has not ended after this many bytes is taken for the end of the
// input: an endless stream without line ends (/dev/zero) must not keep the
// dialogue reading for ever.
constexpr std::size_t longest_line = std::size_t{1} << 20;

enum class Answer {
    line,   // a line, whole in the buffer
    cut,    // a line longer than the buffer: the bytes that fit
    ended,  // the input ended (or failed) before any byte of a line
};

// Reads one line from `in` without its line end into `buffer` (`size` bytes,
// always terminated): the first size - 1 bytes of the line are kept, the rest
// of the line is read and dropped. A carriage return just before the line end
// belongs to the line end. A zero byte in the line ends the answer's text but
// not the line. The question on `out` is flushed first, so it is seen before
// the answer is awaited also when `out` is a pipe.
Answer read_answer(std::FILE* in, const Console& out, char* buffer, std::size_t size) {
    std::fflush(out.stream);
    std::size_t line_length = 0;  // the line's bytes so far, carriage returns included
    bool got_line = false;
    bool ended_with_return = false;
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF) {
            break;
        }
        got_line = true;
        if (c == '\n') {
            break;
        }
        if (line_length == longest_line) {
            buffer[0] = '\0';
            return Answer::ended;
        }
        if (line_length + 1 < size) {
            buffer[line_length] = static_cast<char>(c);
        }
        ++line_length;
        ended_with_return = c == '\r';
    }
    const std::size_t length = line_length - (ended_with_return ? 1 : 0);
    const bool cut = length + 1 > size;
    buffer[cut ? size - 1 : length] = '\0';
    if (!got_line) {
        return Answer::ended;
    }
    return cut ? Answer::cut : Answer::line;
}

SetUpResult input_ended(const Console& out) {
    console_text(out, msg_input_ended);
    return set_up_failed;
}

// The address as the number whose least significant byte is the first address
// byte, as the address confirmation shows it.
std::uint32_t first_byte_lowest(std::uint32_t network_order) {
    const AddressBytes a = address_bytes(network_order);
    return std::uint32_t{a.byte[3]} << 24 | std::uint32_t{a.byte[2]} << 16 |
           std::uint32_t{a.byte[1]} << 8 | std::uint32_t{a.byte[0]};
}

// choose_local_address, telling besides whether the input ended.
std::uint32_t choose_address(const LocalAddresses& found, std::FILE* in, const Console& out,
                             bool* ended) {
    *ended = false;
    const int usable = usable_local_addresses(found, out);
    for (int i = 0; i < usable; ++i) {
        const AddressBytes a = address_bytes(found.list.address[i]);
        std::fprintf(out.stream, "No.%d : %d.%d.%d.%d\n", i + 1, a.byte[0], a.byte[1], a.byte[2],
                     a.byte[3]);
    }
    if (usable > 0 && found.list.left_out > 0) {
        console_printf(out, fmt_addresses_left_out, found.list.left_out);
    }
    if (usable == 0) {
        return 0;
    }
    if (usable == 1) {
        return found.list.address[0];
    }
    const auto count = static_cast<std::uint32_t>(usable);
    char answer[choice_answer_size];
    std::uint32_t choice = 0;
    do {
        console_printf(out, fmt_choose_address, usable);
        if (read_answer(in, out, answer, sizeof answer) == Answer::ended) {
            // The question has no line end: give the message a line of its own.
            std::fputs("\n", out.stream);
            console_text(out, msg_input_ended);
            *ended = true;
            return 0;
        }
        choice = decimal_value(answer);
    } while (choice < 1 || choice > count);
    return found.list.address[choice - 1];
}

}  // namespace

int ask_yes_no(const char* question, int default_answer, std::FILE* in, const Console& out) {
    console_text(out, question);
    char answer[yes_no_answer_size];
    if (read_answer(in, out, answer, sizeof answer) == Answer::ended) {
        return default_answer;
    }
    if (default_answer == 1) {
        return answer[0] == 'N' || answer[0] == 'n' ? 0 : 1;
    }
    return answer[0] == 'Y' || answer[0] == 'y' ? 1 : 0;
}

std::uint32_t choose_local_address(const LocalAddresses& found, std::FILE* in, const Console& out) {
    bool ended = false;
    return choose_address(found, in, out, &ended);
}

SetUpResult run_setup_dialogue(MonitorOptions& options, const LocalAddresses& found, std::FILE* in,
                               const Console& out) {
    char answer[text_answer_size];

    if (ask_yes_no(msg_ask_log_file, 1, in, out) == 1) {
        do {
            console_text(out, msg_enter_log_name);
            const Answer read = read_answer(in, out, answer, sizeof answer);
            if (read == Answer::ended) {
                return input_ended(out);
            }
            if (read == Answer::cut) {
                // A name is never cut: it would be another file's.
                console_printf(out, fmt_log_name_answer_too_long,
                               static_cast<int>(text_answer_size - 1));
                options.log_path[0] = '\0';
                continue;
            }
            std::size_t i = 0;
            for (; answer[i] != '\0'; ++i) {
                options.log_path[i] = answer[i];
            }
            options.log_path[i] = '\0';
        } while (options.log_path[0] == '\0');
    }

    if (ask_yes_no(msg_ask_address_filter, 1, in, out) == 1) {
        console_text(out, msg_enter_filter_address);
        do {
            if (read_answer(in, out, answer, sizeof answer) == Answer::ended) {
                return input_ended(out);
            }
            options.filter_address = platform_inet_addr(answer);
            console_printf(out, fmt_filter_address_confirm,
                           first_byte_lowest(options.filter_address));
        } while (options.filter_address == 0);

        console_text(out, msg_enter_address_count);
        std::uint32_t count = 0;
        do {
            if (read_answer(in, out, answer, sizeof answer) == Answer::ended) {
                return input_ended(out);
            }
            count = decimal_value(answer);
            if (count != 0) {
                console_printf(out, fmt_address_count_confirm, static_cast<int>(count));
            }
        } while (count == 0);
        options.filter_width = count - 1;
    }

    if (ask_yes_no(msg_ask_port_filter, 0, in, out) == 1) {
        do {
            console_text(out, msg_enter_filter_port);
            if (read_answer(in, out, answer, sizeof answer) == Answer::ended) {
                return input_ended(out);
            }
            options.filter_port = static_cast<std::uint16_t>(decimal_value(answer));
            console_printf(out, fmt_filter_port_confirm, int{options.filter_port});
        } while (options.filter_port == 0);
    }

    options.show_detail = static_cast<std::uint8_t>(ask_yes_no(msg_ask_show_detail, 1, in, out));
    options.show_dump = static_cast<std::uint8_t>(ask_yes_no(msg_ask_show_dump, 1, in, out));

    bool ended = false;
    options.listen_address = choose_address(found, in, out, &ended);
    if (ended) {
        return set_up_failed;
    }
    if (options.listen_address == 0) {
        console_text(out, msg_choose_address_failed);
        return set_up_failed;
    }
    print_options(out.stream, options);
    return set_up_done;
}
