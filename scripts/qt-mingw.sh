#!/usr/bin/env bash
# Builds Qt for Windows (64-bit, MinGW-w64) from Debian's own qt6-base source and keeps it in a
# cache folder, so that Quaymend can be cross-built for Windows (scripts/windows.sh). Only Debian's
# archive is used: the source comes through apt with a private configuration that adds a deb-src
# entry for the machine's own mirror, and leaves the machine's apt configuration as it was.
#
#     scripts/qt-mingw.sh            build when the cache is missing, then print its folder
#     scripts/qt-mingw.sh --print    print the cache folder only (it may not exist yet)
#
# The cache is keyed on the source's version, the options below and the compiler's version:
# /var/tmp/quaymend-qt-mingw-<version>-<key> (QUAYMEND_QT_MINGW_CACHE sets another parent folder).
# Only the modules the program and its tests need: Core, Gui, Widgets, the windows platform
# plugin, the modern Windows style and Qt Test. Qt's tools (moc, rcc, uic) are the build machine's,
# which must be the same version: the source's version is the one of the installed qt6-base-dev.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS
say() { printf 'qt-mingw: %s (%d:%02d)\n' "$*" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }

options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF
    -DFEATURE_sql_sqlite=OFF -DFEATURE_androiddeployqt=OFF -DFEATURE_macdeployqt=OFF
    -DFEATURE_windeployqt=OFF -DFEATURE_qmake=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
    # The +dfsg tarball lacks src/3rdparty/wintab, without which the windows plugin does not build.
    -DFEATURE_tabletevent=OFF
)

host_multiarch=$(dpkg-architecture -qDEB_BUILD_MULTIARCH 2>/dev/null || echo "$(uname -m)-linux-gnu")
# The build machine's own Qt: with another architecture's Qt installed too (the arm64 suite's),
# dpkg-query would name both.
version=$(dpkg-query -W -f='${Version}' "qt6-base-dev:$(dpkg --print-architecture)" 2>/dev/null) || version=
compiler_version=$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null) || compiler_version=
key=$(printf '%s\n' "$version" "$compiler_version" "${options[@]}" | sha256sum | cut -c1-12)
upstream=${version%%+*}
upstream=${upstream#*:}
parent=${QUAYMEND_QT_MINGW_CACHE:-/var/tmp}
prefix=$parent/quaymend-qt-mingw-${upstream:-unknown}-$key

if [ "${1:-}" = "--print" ]; then
    echo "$prefix"
    exit 0
fi
if [ -z "$version" ] || [ -z "$compiler_version" ]; then
    echo "qt-mingw: needs qt6-base-dev and g++-mingw-w64-x86-64-posix (scripts/setup.sh --windows)" >&2
    exit 1
fi
if [ -f "$prefix/.complete" ]; then
    say "reusing $prefix"
    echo "$prefix"
    exit 0
fi

work=$parent/quaymend-qt-mingw-work-$key
mkdir -p "$work"
# Debian's source through a private apt configuration: the machine's own mirror and release as a
# deb-src entry, lists and downloads in the work folder.
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$apt_dir/src"
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
mirror=$({ grep -hsE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list || true; } |
    grep -v -- '-security' | sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//' |
    awk '{print $1; exit}') || mirror=
mirror=${mirror:-http://deb.debian.org/debian}
# The security archive too: the installed qt6-base-dev may come from there.
security=$({ grep -hsE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list || true; } |
    grep -- '-security' | sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//' |
    awk '{print $1; exit}') || security=
security=${security:-http://deb.debian.org/debian-security}
printf 'deb-src %s %s main\ndeb-src %s %s-updates main\ndeb-src %s %s-security main\n' \
    "$mirror" "$codename" "$mirror" "$codename" "$security" "$codename" >"$apt_dir/sources.list"
apt_private=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
source_dir=$work/qtbase-$upstream
if [ ! -f "$source_dir/CMakeLists.txt" ]; then
    say "fetching qt6-base $version's source from $mirror ($codename)"
    apt-get "${apt_private[@]}" -qq update
    (cd "$apt_dir/src" && apt-get "${apt_private[@]}" -qq source --download-only "qt6-base=$version")
    orig=$(ls "$apt_dir"/src/qt6-base_*.orig.tar.* | head -n 1)
    rm -rf "$source_dir.tmp" && mkdir -p "$source_dir.tmp"
    tar -xf "$orig" -C "$source_dir.tmp" --strip-components=1
    # Two places in 6.4.2's windows plugin use what the options above leave out (OpenGL with
    # dynamicgl on, DirectWrite's font database without Direct2D); they get the same guards as
    # the code they call.
    perl -0pi -e 's/#if QT_CONFIG\(dynamicgl\)\n(\s+return QOpenGLStaticContext)/#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)\n$1/' \
        "$source_dir.tmp/src/plugins/platforms/windows/qwindowswindow.cpp"
    perl -0pi -e 's/#if QT_CONFIG\(directwrite3\)\n(\s+if \(d->m_options & QWindowsIntegration::FontDatabaseDirectWrite\))/#if QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)\n$1/' \
        "$source_dir.tmp/src/plugins/platforms/windows/qwindowsintegration.cpp"
    mv "$source_dir.tmp" "$source_dir"
fi

build_dir=$work/build
say "configuring into $build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64-w64-mingw32.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$host_multiarch/cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >"$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log"; echo "qt-mingw: configuring failed; the whole log: $work/configure.log" >&2; exit 1; }

say "building (about 25 minutes on 2 cores)"
# Ninja's own [done/total] lines, one in fifty, with the time; errors as they come.
progress() {
    local line done total
    while IFS= read -r line; do
        case "$line" in
        \[*/*\]*)
            done=${line#[}; done=${done%%/*}; total=${line#*/}; total=${total%%]*}
            if [ $((done % 50)) -eq 0 ] || [ "$done" = "$total" ]; then say "step $done of $total"; fi ;;
        *error:* | FAILED:*) echo "$line" ;;
        esac
    done
}
if ! cmake --build "$build_dir" -j"$(nproc)" 2>&1 | tee "$work/build.log" | progress; then
    echo "qt-mingw: the build failed; the whole log: $work/build.log" >&2
    exit 1
fi
say "installing into $prefix"
rm -rf "$prefix"
cmake --install "$build_dir" >"$work/install.log" 2>&1
touch "$prefix/.complete"
# The sources and objects are not needed any more; the downloaded source stays for a rebuild.
rm -rf "$build_dir"
say "done"
echo "$prefix"
