# Shared part of the toolchain files for Debian's Linux cross compilers
# (aarch64-linux-gnu.cmake, s390x-linux-gnu.cmake, arm-linux-gnueabihf.cmake).
# The including file sets DICT_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# DICT_CROSS_QEMU, the user-mode emulator that runs the target's programs.
#
# ctest runs the test programs, and the test programs run the built tools,
# through the emulator, with the target's libraries from the cross
# compiler's sysroot (/usr/TRIPLET); nothing depends on binfmt_misc.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${DICT_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DICT_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${DICT_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(DICT_CROSS_EMULATOR ${DICT_CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DICT_CROSS_EMULATOR} -L /usr/${DICT_CROSS_TRIPLET})
