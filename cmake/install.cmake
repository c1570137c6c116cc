# Install rules and the Debian package.
#
#   cmake --install build --prefix P   puts the programs in P/bin, the manual
#                                      pages (gzipped) in P/share/man/man1,
#                                      the README, the examples, the
#                                      copyright file (with the licence) and
#                                      a changelog in
#                                      P/share/doc/dictionary-tools, and
#                                      lintian's overrides in
#                                      P/share/lintian/overrides
#   cd build && cpack -G DEB           builds dictionary-tools_<version>_<arch>.deb
#                                      from the same rules
#
# A Windows build has a layout of its own, in the if(WIN32) branch below: one
# flat folder for a ZIP file (cd build-win32 && cpack -G ZIP).
#
# Included at the very end of the top-level CMakeLists.txt, after the two
# program targets exist.

include(GNUInstallDirs)

set(DICT_PACKAGE_NAME dictionary-tools)
set(DICT_PACKAGE_MAINTAINER "Dictionary Tools Developers <dictionary-tools@example.org>")
set(DICT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${DICT_PACKAGE_NAME})

# Directories made by the install step (and by CPack, which runs it) get the
# usual mode whatever the umask of whoever builds; Debian's tools object to
# group-writable directories in a package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(DICT_READ_FILE OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# ---------------------------------------------------------------- Windows
# The Windows package is a ZIP file with one folder, dictionary-tools-
# <version>-win64, holding everything side by side: the two programs, the
# manual pages as HTML, the README for Windows users, the licence, the list
# of differences and the examples. The text files get CR LF line ends; the
# examples are data and keep their bytes. Nothing of the Linux layout (bin/,
# share/, gzipped pages) applies, so this branch ends the file.
if(WIN32)
  set(DICT_WIN_OUT ${CMAKE_CURRENT_BINARY_DIR}/windows)
  install(TARGETS corvane tessmark RUNTIME DESTINATION .)

  # Text files with CR LF line ends, made when CMake configures (and again
  # whenever a source changes). None of them holds an @NAME@ to replace,
  # except the README's version.
  configure_file(LICENSE ${DICT_WIN_OUT}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(docs/README-windows.txt ${DICT_WIN_OUT}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(docs/differences.md ${DICT_WIN_OUT}/differences.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES
      ${DICT_WIN_OUT}/LICENSE.txt
      ${DICT_WIN_OUT}/README.txt
      ${DICT_WIN_OUT}/differences.txt
    DESTINATION .)

  # The manual pages as HTML pages, rendered by mandoc at build time. mandoc
  # is needed for the package only: without it the programs and the tests
  # still build, and the install step (which cpack runs) stops with a
  # message naming what is missing.
  find_program(DICT_MANDOC mandoc)
  if(DICT_MANDOC)
    set(DICT_HTML_PAGES)
    foreach(page corvane tessmark)
      add_custom_command(
        OUTPUT ${DICT_WIN_OUT}/${page}.html
        COMMAND ${DICT_MANDOC} -T html ${CMAKE_CURRENT_SOURCE_DIR}/man/${page}.1
                > ${DICT_WIN_OUT}/${page}.html
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/man/${page}.1
        COMMENT "Rendering ${page}.html"
        VERBATIM)
      list(APPEND DICT_HTML_PAGES ${DICT_WIN_OUT}/${page}.html)
    endforeach()
    add_custom_target(dict_html_manuals ALL DEPENDS ${DICT_HTML_PAGES})
    install(FILES ${DICT_HTML_PAGES} DESTINATION .)
  else()
    message(STATUS "mandoc not found: the Windows package (cpack) cannot be made, "
      "since it renders the manual pages as HTML with mandoc")
    install(CODE "message(FATAL_ERROR \"The Windows package needs mandoc, which renders \
the manual pages as HTML: install mandoc and run cmake again.\")")
  endif()

  install(FILES
      ${CMAKE_CURRENT_SOURCE_DIR}/examples/notes.euc
      ${CMAKE_CURRENT_SOURCE_DIR}/examples/sample.edict
      ${CMAKE_CURRENT_SOURCE_DIR}/examples/index_reader.py
    DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME ${DICT_PACKAGE_NAME})
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "Dictionary Tools Developers")
  set(CPACK_STRIP_FILES TRUE)
  include(CPack)
  return()
endif()
# ---------------------------------------------------------------- Linux

install(TARGETS corvane tessmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (cmake --install --strip, and CPack's) also drops the
# .comment section, the compiler's name and version, as Debian's own strip
# step does.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program corvane tessmark)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

# Manual pages and the changelog are gzipped at build time with -9n: best
# compression, and no file name or time stamp in the header, so that two
# builds of the same source give the same bytes.
set(DICT_GZIPPED)
function(dict_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
  set(DICT_GZIPPED ${DICT_GZIPPED} ${output} PARENT_SCOPE)
endfunction()

set(DICT_MAN_OUT ${CMAKE_CURRENT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${DICT_MAN_OUT})
foreach(page corvane.1 tessmark.1)
  dict_gzip(${CMAKE_CURRENT_SOURCE_DIR}/man/${page} ${DICT_MAN_OUT}/${page}.gz)
  install(FILES ${DICT_MAN_OUT}/${page}.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${DICT_READ_FILE})
endforeach()

# The package is native (no separate Debian revision), so its changelog is
# changelog.gz, and Debian wants a copyright file beside it. Both are
# generated here rather than kept as a debian/ directory, since CPack, not
# dpkg-buildpackage, makes the package.
set(DICT_DOC_OUT ${CMAKE_CURRENT_BINARY_DIR}/doc)
file(CONFIGURE OUTPUT ${DICT_DOC_OUT}/changelog CONTENT
"${DICT_PACKAGE_NAME} (${PROJECT_VERSION}) unstable; urgency=medium

  * First packaged release: corvane and tessmark with manual pages, the
    README, the bundled examples and an example index reader.

 -- ${DICT_PACKAGE_MAINTAINER}  Mon, 07 Dec 2026 12:00:00 +0000
" @ONLY)
# The copyright file in Debian's machine-readable format, made from LICENSE:
# its holder line, and its text from "Permission" on as the standalone
# Expat licence paragraph (every line indented one space, an empty line
# written " .").
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE DICT_LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "\nCopyright \\(c\\) ([^\n]+)" DICT_HOLDER "${DICT_LICENSE}")
set(DICT_HOLDER ${CMAKE_MATCH_1})
string(FIND "${DICT_LICENSE}" "Permission is hereby granted" DICT_TEXT_START)
if(NOT DICT_HOLDER OR DICT_TEXT_START EQUAL -1)
  message(FATAL_ERROR "LICENSE: no copyright line or no licence text")
endif()
string(SUBSTRING "${DICT_LICENSE}" ${DICT_TEXT_START} -1 DICT_LICENSE_TEXT)
string(STRIP "${DICT_LICENSE_TEXT}" DICT_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" DICT_LICENSE_TEXT "${DICT_LICENSE_TEXT}")
string(REPLACE "\n" "\n " DICT_LICENSE_TEXT "${DICT_LICENSE_TEXT}")
file(CONFIGURE OUTPUT ${DICT_DOC_OUT}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${DICT_PACKAGE_NAME}
Upstream-Contact: ${DICT_PACKAGE_MAINTAINER}

Files: *
Copyright: ${DICT_HOLDER}
License: Expat

License: Expat
 ${DICT_LICENSE_TEXT}
" @ONLY)
dict_gzip(${DICT_DOC_OUT}/changelog ${DICT_DOC_OUT}/changelog.gz)
add_custom_target(dict_compressed_docs ALL DEPENDS ${DICT_GZIPPED})

# The licence is in the copyright file; Debian wants it there only.
install(FILES
    ${CMAKE_CURRENT_SOURCE_DIR}/README.md
    ${CMAKE_CURRENT_SOURCE_DIR}/docs/differences.md
    ${DICT_DOC_OUT}/changelog.gz
    ${DICT_DOC_OUT}/copyright
  DESTINATION ${DICT_DOC_DIR} PERMISSIONS ${DICT_READ_FILE})
# The example inputs and the index reader; the reader is run as
# "python3 index_reader.py", so it needs no execute bit. examples/run.sh
# builds from a source checkout and is of no use once installed.
install(FILES
    ${CMAKE_CURRENT_SOURCE_DIR}/examples/notes.euc
    ${CMAKE_CURRENT_SOURCE_DIR}/examples/sample.edict
    ${CMAKE_CURRENT_SOURCE_DIR}/examples/index_reader.py
  DESTINATION ${DICT_DOC_DIR}/examples PERMISSIONS ${DICT_READ_FILE})

# What lintian reports of the package on purpose, each with its reason.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/dictionary-tools.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${DICT_PACKAGE_NAME}
  PERMISSIONS ${DICT_READ_FILE})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${DICT_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${DICT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "Dictionary Tools Developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "index builder and EUC-JP to Shift_JIS converter for EDICT files")
set(CPACK_PACKAGE_DESCRIPTION
"Two command-line tools for a Japanese-English dictionary kept in the EDICT
text format. corvane reads a whole dictionary and writes beside it an index
with one 4-byte record per line (where the headword ends, where the
bracketed reading ends, how long the line is), so that a dictionary viewer
can find any line without scanning the text. tessmark converts a text file
from EUC-JP to Shift_JIS line by line and ends every output line with
CR LF. Manual pages, the bundled examples and an example index reader in
Python are included.")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${DICT_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DICT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dictionaries the tools are for, as Debian packages them.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "edict, enamdict, kanjidic")
# The package is labelled with the architecture its programs are built for.
# Unless told, CPack asks dpkg for the building machine's, which is right
# for a native build only; a cross build for Linux gives Debian's name for
# its compiler's multiarch tuple (aarch64-linux-gnu: arm64).
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  execute_process(
    COMMAND dpkg-architecture -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE DICT_DEBIAN_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(DICT_DEBIAN_ARCHITECTURE)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DICT_DEBIAN_ARCHITECTURE})
  else()
    message(WARNING "No Debian architecture for ${CMAKE_LIBRARY_ARCHITECTURE} "
                    "(dpkg-architecture, from dpkg-dev, names it): the package is not labelled")
  endif()
  # dpkg-shlibdeps would find the target's libraries only in the cross
  # toolchain, whose packages bear the toolchain's names (libc6-arm64-cross),
  # so a cross build names what a native build computes: the C library
  # (symbols up to version 2.34) and the C++ run-time libraries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1, libstdc++6 (>= 5)")
endif()
include(CPack)
