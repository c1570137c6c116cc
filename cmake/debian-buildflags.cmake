# Debian's build flags for a native Linux build: what dpkg-buildflags gives
# every Debian package, with all of its hardening (hardening=+all, which
# adds -z now to the link for full RELRO), so that the programs and the
# package built from them carry the distribution's protections:
# -D_FORTIFY_SOURCE=2, -fstack-protector-strong, -z relro -z now. Position-
# independent executables are Debian's compilers' own default, which
# dpkg-buildflags relies on too; CMake's POSITION_INDEPENDENT_CODE would
# compile the static libraries with -fPIC, whose calls between functions
# cost more.
#
# The build type keeps choosing optimisation and debug information: the -O
# and -g flags of dpkg-buildflags are left out. DEB_BUILD_MAINT_OPTIONS in
# the environment still applies after hardening=+all (hardening=-bindnow,
# say). Nothing is added where dpkg-buildflags is absent (a plain cmake
# build on another system), nor to builds that these flags do not fit: the
# cross builds (their compilers' defaults), the Windows build, the
# sanitizer and fuzzing builds (fortified calls would bypass the
# sanitizers' own checks) and Debug builds (fortification needs the
# optimiser). DICT_DEBIAN_BUILDFLAGS=OFF turns it off.
#
# Included by the top-level CMakeLists.txt before any target is made.

option(DICT_DEBIAN_BUILDFLAGS "Build with dpkg-buildflags' flags where it is present (native Linux builds)" ON)

if(NOT DICT_DEBIAN_BUILDFLAGS OR WIN32 OR CMAKE_CROSSCOMPILING OR DICT_SANITIZE OR DICT_FUZZ
   OR CMAKE_BUILD_TYPE MATCHES "^[Dd][Ee][Bb][Uu][Gg]$" OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()
find_program(DICT_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DICT_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: built with the compiler's own defaults")
  return()
endif()

# dict_buildflags(VARIABLE NAME): the list of flags dpkg-buildflags gives
# for NAME (CPPFLAGS, CXXFLAGS, LDFLAGS), without -O and -g flags. It runs in
# the source directory, which its file-prefix map then names as ".".
function(dict_buildflags variable name)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all $ENV{DEB_BUILD_MAINT_OPTIONS}"
            ${DICT_DPKG_BUILDFLAGS} --get ${name}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${DICT_DPKG_BUILDFLAGS} --get ${name} failed (${status}); "
                        "-DDICT_DEBIAN_BUILDFLAGS=OFF builds without its flags")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-[Og]")
  set(${variable} ${flags} PARENT_SCOPE)
endfunction()

dict_buildflags(DICT_DEBIAN_CPPFLAGS CPPFLAGS)
dict_buildflags(DICT_DEBIAN_CXXFLAGS CXXFLAGS)
dict_buildflags(DICT_DEBIAN_LDFLAGS LDFLAGS)
add_compile_options(${DICT_DEBIAN_CPPFLAGS} ${DICT_DEBIAN_CXXFLAGS})
add_link_options(${DICT_DEBIAN_LDFLAGS})
message(STATUS "Debian build flags: ${DICT_DEBIAN_CPPFLAGS} ${DICT_DEBIAN_CXXFLAGS} ${DICT_DEBIAN_LDFLAGS}")
