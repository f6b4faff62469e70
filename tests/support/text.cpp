// Text for the tests.
#include "support/text.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#endif

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

#if defined(_WIN32)

// The C runtime's tmpfile takes a name the system made unique, deletes that
// file, then opens the name again: two processes that asked in the same
// clock tick are given the same name, and one of them fails. This one makes
// the name unique by the process and a count, and creates it exclusively;
// the file is deleted when closed.
std::FILE* temporary_stream() {
    static unsigned count = 0;
    const char* folder = std::getenv("TEMP");
    for (int attempt = 0; attempt < 100; ++attempt) {
        char path[512];
        std::snprintf(path, sizeof path, "%s\\pktwatch-test-%d-%u.tmp",
                      folder != nullptr ? folder : ".", _getpid(), ++count);
        const int fd = _open(path, _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                             _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            return _fdopen(fd, "w+b");
        }
    }
    std::fputs("test support: no temporary file could be made\n", stderr);
    return nullptr;
}

#else

std::FILE* temporary_stream() {
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) {
        std::fputs("test support: tmpfile() failed\n", stderr);
    }
    return stream;
}

#endif

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
