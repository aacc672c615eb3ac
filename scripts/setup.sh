#!/usr/bin/env bash
# Installs what Quaymend needs from Debian's packages only, on Debian 12 "bookworm" or Debian 13
# "trixie" (and Raspberry Pi OS built on either). The release comes from /etc/os-release; on one it
# does not know it says so, tries Debian 13's list and names what it could not install. Does nothing
# when everything is there already.
#   scripts/setup.sh --run       building the program and the simulator and running the update
#                                without a window (scripts/run.sh without a display)
#   scripts/setup.sh --window    that, and what the window in the user's language takes: Qt's
#                                Linguist tools for the translations, a font (run.sh on a display)
#   scripts/setup.sh --xvfb      that of --window, and a virtual display to click the window
#                                through on a machine without one: Xvfb, xdotool, ImageMagick
#                                (run.sh --xvfb)
#   scripts/setup.sh --tests     that of --xvfb, and what the test suite and CI need besides
#                                (scripts/test.sh)
#   scripts/setup.sh --package   that of --window, and what the Debian package needs
#                                (scripts/package.sh)
#   scripts/setup.sh --windows   that of --xvfb, and what the Windows build and its tests under Wine
#                                need (scripts/windows.sh): MinGW-w64, Ninja, dpkg-dev (for Qt's
#                                source), Wine, NSIS, socat
#   scripts/setup.sh             all of them but --windows
#   --arch arm64 | --arch armhf  also what a cross build for arm64 or armhf needs (Raspberry Pi OS):
#                                the cross compiler, Qt's libraries of that architecture (multiarch)
#                                and the user-mode emulator
# With --tests (or all) it also fetches what the kernel table's machine (tests/kernel/vm.sh) runs
# that this machine lacks, udev and ModemManager, into /var/tmp/quaymend-rig (QUAYMEND_RIG_LAYER),
# unpacked, not installed: installed, Debian would start and enable them on this machine as well.
set -euo pipefail
arch=
want_window='' want_xvfb='' want_tests='' want_package='' want_windows='' named=''
while [ $# -gt 0 ]; do
    case "$1" in
    --run) named=1; shift ;;
    --window) want_window=1 named=1; shift ;;
    --xvfb) want_window=1 want_xvfb=1 named=1; shift ;;
    --tests) want_tests=1 want_window=1 want_xvfb=1 named=1; shift ;;
    --package) want_package=1 want_window=1 named=1; shift ;;
    --windows) want_windows=1 want_window=1 want_xvfb=1 named=1; shift ;;
    --arch)
        arch=${2:?"--arch needs arm64 or armhf"}
        case "$arch" in arm64 | armhf) ;; *) echo "setup.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;; esac
        shift 2
        ;;
    *) echo "setup.sh: unknown option $1 (--run, --window, --xvfb, --tests, --package, --windows, --arch arm64|armhf)"; exit 2 ;;
    esac
done
[ -n "$named" ] || want_window=1 want_xvfb=1 want_tests=1 want_package=1

codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || codename=
known=yes
case "$codename" in
bookworm | trixie) ;;
*)
    known=
    echo "setup.sh: release '${codename:-unknown}' is not one Quaymend is tested on (Debian 12 bookworm, 13 trixie); trying Debian 13's packages"
    ;;
esac

# build-essential would add dpkg-dev and Perl, which only the package needs.
packages=(
    g++ make cmake
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins libgl-dev
)
# The Linguist tools bring libclang and Qt Designer's libraries: some 10 s of a fresh machine's
# set-up that the unattended run, whose output is the update log's English lines, does without.
[ -n "$want_window" ] && packages+=(qt6-tools-dev qt6-l10n-tools fonts-dejavu-core)
[ -n "$want_xvfb" ] && packages+=(xvfb x11-utils xdotool imagemagick)
[ -n "$want_tests" ] && packages+=(
    qt6-translations-l10n
    lrzsz socat
    openbox wmctrl dbus-daemon at-spi2-core python3-pyatspi
    # AT-SPI's settings backend wants a session bus; without one named here apt takes
    # dbus-user-session, which brings systemd as init and the system bus's daemon with it.
    dbus-x11
    g++-mingw-w64-x86-64-posix
    desktop-file-utils appstream man-db file
    clang debootstrap
    qemu-system-x86 qemu-system-arm kmod cpio xz-utils zstd
)
[ -n "$want_package" ] && packages+=(dpkg-dev file lintian)
[ -n "$want_windows" ] && packages+=(
    g++-mingw-w64-x86-64-posix ninja-build dpkg-dev xz-utils
    wine wine64 nsis socat python3
)

if [ -n "$arch" ]; then
    packages+=(
        "crossbuild-essential-$arch" qemu-user-static
        "qt6-base-dev:$arch" "qt6-serialport-dev:$arch" "qt6-qpa-plugins:$arch" "libgl-dev:$arch"
    )
fi

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"; }
# installed NAME[:ARCH]: without an architecture, this machine's own (or arch all): another
# architecture's copy of a library (the arm64 suite's Qt) is not this machine's.
installed() {
    local want=$1
    [[ $want == *:* ]] || want="$want:$(dpkg --print-architecture)"
    dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "${want%%:*}" 2>/dev/null |
        grep -qxF -e "$want install ok installed" -e "${want%%:*}:all install ok installed"
}

# clang's sanitizer and libFuzzer runtime carries the compiler's major version in its name
# (libclang-rt-14-dev on Debian 12, -19- on Debian 13): the one of the release's own clang.
clang_runtime() {
    local major=
    if command -v clang >/dev/null; then
        major=$(clang --version | sed -n 's/.*clang version \([0-9]*\)\..*/\1/p' | head -n 1)
    fi
    [ -n "$major" ] || major=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
    [ -n "$major" ] && echo "libclang-rt-$major-dev"
}

missing_of() {
    local p
    for p in "$@"; do installed "$p" || echo "$p"; done
}

# The machine of the kernel table boots this machine's own root; what it runs there besides
# (systemd-udevd, and ModemManager for its rows with and without the udev rule) is unpacked into a
# folder that it lays over the root, and never installed here.
rig=${QUAYMEND_RIG_LAYER:-/var/tmp/quaymend-rig}
rig_packages=(udev modemmanager)

# rig_plan: name=version of each package apt would install here for them: those and what they need
# that is not installed.
rig_plan() {
    apt-get -s -qq install --no-install-recommends "${rig_packages[@]}" |
        sed -n 's/^Inst \([^ ]*\) \(\[[^]]*\] \)\{0,1\}(\([^ ]*\) .*/\1=\3/p'
}

# rig_unpack PLAN: fetches and unpacks the plan's packages into $rig/root.
rig_unpack() {
    local new=$rig/root.new deb d rel target
    rm -rf "$rig/debs" "$new"
    mkdir -p "$rig/debs" "$new"
    # shellcheck disable=SC2086 # one word a package
    (cd "$rig/debs" && apt-get -q -o APT::Sandbox::User=root download $1) >"$rig/download.log" 2>&1 || return 1
    for deb in "$rig/debs"/*.deb; do dpkg-deb -x "$deb" "$new" || return 1; done
    # A folder that is a link in this root (/lib to usr/lib where /usr is merged) would, as a real
    # folder of the upper layer, hide all that the link leads to: its files go where the link leads.
    while IFS= read -r d; do
        [ -d "$d" ] && [ ! -L "$d" ] || continue
        rel=${d#"$new"}
        [ -L "$rel" ] || continue
        target=$(realpath -m "$rel")
        mkdir -p "$new$target"
        cp -a "$d/." "$new$target/" && rm -rf "$d" || return 1
    done < <(find "$new" -mindepth 1 -type d | LC_ALL=C sort)
    rm -rf "$rig/root"
    mv "$new" "$rig/root" && echo "$1" >"$rig/stamp"
}

prepare_rig() {
    local plan
    if [ -z "$(missing_of "${rig_packages[@]}")" ]; then
        # All of it is installed here: the machine sees it through the root.
        rm -rf "$rig"
        return 0
    fi
    plan=$(rig_plan 2>/dev/null) || { apt_get update -qq && plan=$(rig_plan); } || return 1
    plan=$(paste -sd' ' <<<"$plan")
    [ "$(cat "$rig/stamp" 2>/dev/null)" = "$plan" ] && [ -d "$rig/root" ] && return 0
    echo "Unpacking for the kernel table's machine into $rig, not installing here: $(sed 's/=[^ ]*//g' <<<"$plan")"
    mkdir -p "$rig"
    rig_unpack "$plan" && return 0
    # Lists older than the archive name versions it no longer has.
    apt_get update -qq
    plan=$(rig_plan | paste -sd' ')
    rig_unpack "$plan" || { tail -n 5 "$rig/download.log"; return 1; }
}
# Without it the kernel table fails at once, naming what its machine lacks; all else still runs.
rig_or_warn() {
    [ -n "$want_tests" ] || return 0
    prepare_rig || echo "setup.sh: could not fetch ${rig_packages[*]} for the kernel table's machine"
}

runtime=
[ -n "$want_tests" ] && { runtime=$(clang_runtime) || true; }
[ -n "$runtime" ] && packages+=("$runtime")
mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -eq 0 ] && { [ -z "$want_tests" ] || [ -n "$runtime" ]; }; then
    rig_or_warn
    exit 0
fi

echo "Installing: ${missing[*]}"
if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo[@]}" dpkg --add-architecture "$arch"
fi
apt_get update -qq
if [ -n "$want_tests" ] && [ -z "$runtime" ]; then
    runtime=$(clang_runtime) || true
    if [ -n "$runtime" ]; then missing+=("$runtime"); else echo "setup.sh: no clang in this release's packages"; fi
fi
failed=()
if ! apt_get install -y -qq --no-install-recommends "${missing[@]}"; then
    # One at a time, to name each package this release lacks.
    for p in "${missing[@]}"; do
        apt_get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || failed+=("$p")
    done
fi
rig_or_warn
[ ${#failed[@]} -eq 0 ] && exit 0
echo "setup.sh: could not install: ${failed[*]}"
# On a release it knows, every package must be there; elsewhere the build may still go through.
[ -n "$known" ] && exit 1
exit 0
