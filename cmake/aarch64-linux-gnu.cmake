# Cross-builds for 64-bit ARM (Debian arm64) with Debian's
# g++-aarch64-linux-gnu and runs the tests under qemu-aarch64-static:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build-arm64 -j2 && ctest --test-dir build-arm64 -j2
set(DICT_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(DICT_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
