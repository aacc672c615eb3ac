# Cross build for 32-bit ARM Linux with hardware floating point (Raspberry Pi OS 32-bit, Debian
# armhf) on a Debian build machine with multiarch: the compiler from crossbuild-essential-armhf,
# Qt's libraries from the :armhf packages, and Qt's tools from the build machine's own.
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
set(QUAYMEND_TARGET_MULTIARCH arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QUAYMEND_QEMU qemu-arm-static)
set(QUAYMEND_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch-cross.cmake)
