# Cross-builds for 32-bit ARM with hardware floating point (Debian armhf) with Debian's
# g++-arm-linux-gnueabihf and runs the tests under qemu-arm-static:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake --build build-armhf -j2 && ctest --test-dir build-armhf -j2
set(DICT_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(DICT_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
