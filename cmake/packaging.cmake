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

# Made in the build tree: the manual page and the changelog compressed as
# Debian's policy asks (gzip -9n: no name, no time stamp, so every build
# makes the same bytes), and the copyright file in Debian's machine-readable
# format (DEP-5), its licence text taken from LICENSE.
set(PKTWATCH_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/doc)
find_program(PKTWATCH_GZIP gzip REQUIRED)
add_custom_command(
    OUTPUT ${PKTWATCH_DOC_BUILD_DIR}/pktwatch.1.gz ${PKTWATCH_DOC_BUILD_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PKTWATCH_DOC_BUILD_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/pktwatch.1
            ${PROJECT_SOURCE_DIR}/doc/changelog ${PKTWATCH_DOC_BUILD_DIR}
    COMMAND ${PKTWATCH_GZIP} -9nf ${PKTWATCH_DOC_BUILD_DIR}/pktwatch.1
            ${PKTWATCH_DOC_BUILD_DIR}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/pktwatch.1 ${PROJECT_SOURCE_DIR}/doc/changelog
    COMMENT "Compressing the manual page and the changelog"
    VERBATIM)
add_custom_target(pktwatch_docs ALL
                  DEPENDS ${PKTWATCH_DOC_BUILD_DIR}/pktwatch.1.gz
                          ${PKTWATCH_DOC_BUILD_DIR}/changelog.gz)

# LICENSE is its copyright line, an empty line, then the terms. In DEP-5 the
# terms are a field's text: each line indented by one space, an empty line
# written " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE pktwatch_licence)
if(NOT pktwatch_licence MATCHES "^Copyright ([^\n]+)\n\n(.+)$")
    message(FATAL_ERROR "LICENSE does not start with a copyright line and an empty line")
endif()
set(PKTWATCH_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" pktwatch_terms)
string(REPLACE "\n\n" "\n.\n" pktwatch_terms "${pktwatch_terms}")
string(REPLACE "\n" "\n " pktwatch_terms "${pktwatch_terms}")
set(PKTWATCH_LICENCE_TERMS " ${pktwatch_terms}")
file(CONFIGURE OUTPUT ${PKTWATCH_DOC_BUILD_DIR}/copyright
     CONTENT "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: pktwatch

Files: *
Copyright: @PKTWATCH_COPYRIGHT@
License: BSD-2-Clause

License: BSD-2-Clause
@PKTWATCH_LICENCE_TERMS@
" @ONLY)

install(TARGETS pktwatch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PKTWATCH_DOC_BUILD_DIR}/pktwatch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# PREFIX/share/doc/pktwatch, where Debian keeps a package's copyright and
# changelog.
install(FILES ${PKTWATCH_DOC_BUILD_DIR}/copyright ${PKTWATCH_DOC_BUILD_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Where bash-completion looks for a command's completion when it is first used.
install(FILES ${PROJECT_SOURCE_DIR}/doc/pktwatch.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pktwatch)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pktwatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(PKTWATCH_MAINTAINER "pktwatch developers <pktwatch@example.org>")
set(CPACK_PACKAGE_CONTACT "${PKTWATCH_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console monitor of the IPv4 traffic of one network interface")
set(CPACK_PACKAGE_DESCRIPTION
    "pktwatch watches the IPv4 datagrams that one local network interface\n"
    "receives and sends, and writes an account of each: a two-line summary, or\n"
    "the decoded IPv4, ICMP, TCP and UDP headers, optionally with a hex dump,\n"
    "to the console or to a log file. It also renders pcap and pcapng capture\n"
    "files, and can save what it shows as a pcap file.")
list(JOIN CPACK_PACKAGE_DESCRIPTION "" CPACK_PACKAGE_DESCRIPTION)
# Policy 5.6.2: a name and an e-mail address. The same as in doc/changelog.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PKTWATCH_MAINTAINER}")
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
