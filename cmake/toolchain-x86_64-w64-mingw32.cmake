# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the POSIX
# thread model, which std::thread and Qt need). Used for Qt itself (scripts/qt-mingw.sh) and for
# Quaymend against that Qt (scripts/windows.sh); Qt's tools (moc, uic, rcc, lrelease) come from the
# build machine's own Qt, which must be the same version as the Qt built for Windows.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
#         -DCMAKE_PREFIX_PATH=/var/tmp/quaymend-qt-mingw-...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUAYMEND_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUAYMEND_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUAYMEND_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUAYMEND_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUAYMEND_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
    OUTPUT_VARIABLE QUAYMEND_HOST_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT QUAYMEND_HOST_MULTIARCH)
    set(QUAYMEND_HOST_MULTIARCH ${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu)
endif()
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${QUAYMEND_HOST_MULTIARCH}/cmake)
set(Qt6LinguistTools_DIR /usr/lib/${QUAYMEND_HOST_MULTIARCH}/cmake/Qt6LinguistTools CACHE PATH "")

# Programs built here run under Wine (tests, the translations' checks).
find_program(QUAYMEND_WINE_PATH wine)
if(QUAYMEND_WINE_PATH)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUAYMEND_WINE_PATH})
endif()
