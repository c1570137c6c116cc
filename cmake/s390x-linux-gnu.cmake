# Cross-builds for 64-bit IBM Z, big-endian (Debian s390x) with Debian's
# g++-s390x-linux-gnu and runs the tests under qemu-s390x-static:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
#   cmake --build build-s390x -j2 && ctest --test-dir build-s390x -j2
set(DICT_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(DICT_CROSS_QEMU qemu-s390x-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
