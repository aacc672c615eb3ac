#!/usr/bin/env bash
# Quaymend for Windows, made and tested on this Debian machine: Qt for Windows built from Debian's
# own qt6-base source (scripts/qt-mingw.sh, cached), the program cross-built with MinGW-w64, its
# installer made with NSIS, and the Windows tests run under Wine.
#
#     scripts/windows.sh             everything: build, installer, tests under Wine
#     scripts/windows.sh --build     build the program and the installer only
#
# Results in build-windows/: deploy/ (the program with everything it loads, as installed),
# quaymend-<version>-setup.exe, and the tests' logs under wine-tests/. QUAYMEND_WINDOWS_BUILD
# names another folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS
stage() { printf '== windows.sh: %s (%d:%02d)\n' "$*" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
build_only=
[ "${1:-}" = "--build" ] && build_only=1

stage "packages"
"$top/scripts/setup.sh" --windows
stage "Qt for Windows"
qt=$("$top/scripts/qt-mingw.sh" | tail -n 1)
[ -f "$qt/.complete" ] || { echo "windows.sh: no Qt for Windows in $qt" >&2; exit 1; }

build=${QUAYMEND_WINDOWS_BUILD:-$top/build-windows}
stage "building into $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64-w64-mingw32.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The folder as it is installed: the program, Qt's libraries and the plugins it loads (the
# windows platform, the modern Windows style, the ICO reader for its icon), MinGW's runtime and
# the driver folder, empty until a vendor's setup.exe is put there.
stage "deploy folder"
deploy=$build/deploy
rm -rf "$deploy"
mkdir -p "$deploy/platforms" "$deploy/styles" "$deploy/imageformats" "$deploy/driver"
cp "$build/quaymend.exe" "$deploy/"
for dll in Qt6Core Qt6Gui Qt6Widgets; do cp "$qt/bin/$dll.dll" "$deploy/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$deploy/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$deploy/styles/"
cp "$qt/plugins/imageformats/qico.dll" "$deploy/imageformats/"
mingw_dlls() {
    local gcc_dir
    gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
    echo "$gcc_dir/libstdc++-6.dll" "$gcc_dir/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
}
# shellcheck disable=SC2046
cp $(mingw_dlls) "$deploy/"
x86_64-w64-mingw32-strip "$deploy"/*.exe "$deploy"/*.dll "$deploy"/*/*.dll

# The installer. Its uninstaller removes exactly these files (the list is made from the folder).
stage "installer"
version=$(sed -n 's/.*programVersion\[\] = "\(.*\)";/\1/p' "$top/src/app/version.h")
fileversion=$(echo "$version" | awk -F. '{ printf "%d.%d.%d.%d", $2, $3, $4, 0 }')
filelist=$build/uninstall-files.nsh
(
    cd "$deploy"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
) >"$filelist"
installer=$build/quaymend-$version-setup.exe
makensis -V2 -DVERSION="$version" -DFILEVERSION="$fileversion" -DSOURCE="$deploy" -DOUTFILE="$installer" \
    -DFILELIST="$filelist" -DESTIMATED_KB="$(du -sk "$deploy" | cut -f1)" "$top/packaging/windows/quaymend.nsi"
echo "windows.sh: installer $installer ($(du -h "$installer" | cut -f1))"

# The stand-in driver installer the tests put in driver\ (never in the installer).
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$build/fakesetup.exe" "$top/tests/windows/fakesetup.c" -lshell32

[ -n "$build_only" ] && { stage "built"; exit 0; }
stage "the Linux simulator, which plays the device behind the COM ports"
"$top/scripts/build.sh" quaymend-devsim quaymend >/dev/null
stage "tests under Wine"
"$top/tests/windows/wine-tests.sh" --build "$build" --qt "$qt"
stage "done"
