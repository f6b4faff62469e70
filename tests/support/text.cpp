// Text for the tests.
#include "support/text.hpp"

#include <fstream>
#include <sstream>

#include "config/options.hpp"
#include "platform/host.hpp"

namespace test_support {

std::string read_file(const std::string& path, bool* found) {
    std::ifstream in(path, std::ios::binary);
    if (found != nullptr) {
        *found = static_cast<bool>(in);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string text_of(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
        text.append(chunk, count);
    }
    std::fseek(stream, 0, SEEK_END);
    return text;
}

std::FILE* temporary_stream() {
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) {
        std::fputs("test support: tmpfile() failed\n", stderr);
    }
    return stream;
}

std::FILE* stream_holding(const std::string& bytes) {
    std::FILE* stream = temporary_stream();
    if (stream != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        std::rewind(stream);
    }
    return stream;
}

std::FILE* null_stream() {
#if defined(_WIN32)
    static std::FILE* const stream = std::fopen("NUL", "wb");
#else
    static std::FILE* const stream = std::fopen("/dev/null", "wb");
#endif
    return stream;
}

std::string start_banner() {
    return printed([](std::FILE* stream) {
        print_usage(stream);
        const NetworkStart network = platform_start_network();
        std::fprintf(stream, "Description\t:%s\r\n", network.description);
        std::fprintf(stream, "Systemstatus\t:%s\r\n", network.status);
    });
}

}  // namespace test_support
