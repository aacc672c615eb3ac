# Shared part of the Debian multiarch toolchain files; they set QUAYMEND_TARGET_MULTIARCH (the
# target's multiarch triplet), CMAKE_SYSTEM_PROCESSOR, QUAYMEND_QEMU (its user-mode emulator) and
# QUAYMEND_DEBIAN_ARCH (its Debian architecture, for the package).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QUAYMEND_TARGET_MULTIARCH}-gcc)
set(CMAKE_CXX_COMPILER ${QUAYMEND_TARGET_MULTIARCH}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QUAYMEND_TARGET_MULTIARCH})

# The build machine's own triplet (x86_64-linux-gnu on a PC), where its Qt keeps the tools' CMake
# packages.
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
    OUTPUT_VARIABLE QUAYMEND_HOST_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT QUAYMEND_HOST_MULTIARCH)
    set(QUAYMEND_HOST_MULTIARCH ${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu)
endif()

# Libraries and headers of the target come from the multiarch folders of /usr only; programs
# (moc, lupdate, ...) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/lib/${QUAYMEND_TARGET_MULTIARCH} /usr/${QUAYMEND_TARGET_MULTIARCH})
set(CMAKE_PREFIX_PATH /usr/lib/${QUAYMEND_TARGET_MULTIARCH}/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QUAYMEND_TARGET_MULTIARCH}/pkgconfig:/usr/share/pkgconfig)

# Qt's host tools. Qt's Linguist tools exist for one architecture at a time (qt6-l10n-tools), so
# they come from the build machine's packages.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${QUAYMEND_HOST_MULTIARCH}/cmake)
set(Qt6LinguistTools_DIR /usr/lib/${QUAYMEND_HOST_MULTIARCH}/cmake/Qt6LinguistTools CACHE PATH "")

# Test programs and the programs they start run under the user-mode emulator; the target's
# libraries and dynamic loader are where multiarch put them, so it needs no root of its own.
find_program(QUAYMEND_QEMU_PATH ${QUAYMEND_QEMU})
if(QUAYMEND_QEMU_PATH)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUAYMEND_QEMU_PATH})
endif()
