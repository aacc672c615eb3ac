# Cross build for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64) on a Debian build
# machine with multiarch: the compiler from crossbuild-essential-arm64, Qt's libraries from the
# :arm64 packages, and Qt's tools (moc, uic, rcc, lupdate, lrelease) from the build machine's own.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
set(QUAYMEND_TARGET_MULTIARCH aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUAYMEND_QEMU qemu-aarch64-static)
set(QUAYMEND_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch-cross.cmake)
