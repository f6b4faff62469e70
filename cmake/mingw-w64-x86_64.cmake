# Cross-builds pktwatch.exe for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64), and runs what it builds (the tests) under Wine:
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PKTWATCH_MINGW_TARGET x86_64-w64-mingw32)
# The posix thread model: its libstdc++ has std::thread and std::mutex, which
# GoogleTest may use.
set(CMAKE_C_COMPILER ${PKTWATCH_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PKTWATCH_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${PKTWATCH_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PKTWATCH_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: no libstdc++, libgcc or winpthread DLLs to
# ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables run under Wine, in a Wine prefix of the build's own.
get_filename_component(PKTWATCH_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PKTWATCH_WINE_RUN} ${CMAKE_BINARY_DIR}/wineprefix)
