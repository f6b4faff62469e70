# Install rules and the Debian package of the Linux build:
#   cmake --install build --prefix /usr/local      (make install)
#   cpack -G DEB --config build/CPackConfig.cmake  (make deb)
# Included once at the end of the top CMakeLists.txt, after the pktwatch
# target exists. The Windows build (cross-built with mingw-w64) ships
# pktwatch.exe on its own and has neither.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

include(GNUInstallDirs)

install(TARGETS pktwatch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/pktwatch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Where bash-completion looks for a command's completion when it is first used.
install(FILES ${PROJECT_SOURCE_DIR}/doc/pktwatch.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pktwatch)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pktwatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "pktwatch developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console monitor of the IPv4 traffic of one network interface")
set(CPACK_PACKAGE_DESCRIPTION
    "pktwatch watches the IPv4 datagrams that one local network interface\n"
    "receives and sends, and writes an account of each: a two-line summary, or\n"
    "the decoded IPv4, ICMP, TCP and UDP headers, optionally with a hex dump,\n"
    "to the console or to a log file. It also renders pcap and pcapng capture\n"
    "files, and can save what it shows as a pcap file.")
list(JOIN CPACK_PACKAGE_DESCRIPTION "" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "pktwatch developers")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps turns the libraries the executable links (libc, libstdc++,
# libpcap, libcap, ...) into the package's Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pktwatch_VERSION_ARCH.deb, as dpkg names packages.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package carries the executable without its debugging sections.
set(CPACK_STRIP_FILES ON)

include(CPack)
