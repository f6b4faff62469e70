// The console on Linux: the terminal's encoding comes from the locale, and
// text is written as plain bytes.
#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "platform/platform.hpp"

ConsoleEncoding platform_console_init() {
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0 ? ConsoleEncoding::utf8
                                                                    : ConsoleEncoding::shift_jis;
}

bool platform_write_console_text(std::FILE* /*stream*/, const char* /*utf8*/,
                                 std::size_t /*length*/) {
    return false;
}
