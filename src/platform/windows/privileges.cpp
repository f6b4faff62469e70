// Privileges on Windows: an Administrator's token cannot be given up
// piecemeal by the program itself, so nothing is dropped.
#include "platform/process.hpp"

bool platform_drop_privileges(const char* /*user_name*/, char* /*reason*/, std::size_t /*size*/) {
    return true;
}
