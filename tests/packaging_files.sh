#!/usr/bin/env bash
# The desktop files as installed: the validators' verdicts on the desktop entry, the AppStream
# metainfo and the man page; the installed file list; and the names and numbers that tie the files
# together (icon name, launchable, icon sizes, release version, the udev rule's vendor and order).
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
linux="$top/packaging/linux"
. "$top/scripts/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
id=org.quaymend.Quaymend

out=$(desktop-file-validate "$linux/$id.desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate says: $out"
out=$(appstreamcli validate --no-net "$linux/$id.metainfo.xml" 2>&1) || fail "appstreamcli validate: $out"
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$linux/quaymend.1" 2>&1 >/dev/null) || fail "man: $out"
[ -z "$out" ] || fail "man --warnings says: $out"

DESTDIR="$work/root" cmake --install "$build" --prefix /usr --component quaymend >/dev/null
(cd "$work/root" && find . -type f | sort) >"$work/files"
cat >"$work/expected" <<EOF
./usr/bin/quaymend
./usr/lib/udev/rules.d/70-quaymend.rules
./usr/share/applications/$id.desktop
./usr/share/doc/quaymend/changelog.gz
./usr/share/doc/quaymend/copyright
./usr/share/icons/hicolor/16x16/apps/$id.png
./usr/share/icons/hicolor/256x256/apps/$id.png
./usr/share/icons/hicolor/32x32/apps/$id.png
./usr/share/icons/hicolor/48x48/apps/$id.png
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/man/man1/quaymend.1.gz
./usr/share/metainfo/$id.metainfo.xml
EOF
diff -u "$work/expected" "$work/files" || fail "installed files differ from the list above"
root="$work/root/usr"

# Each PNG is as large as the folder it is in says (width and height from its IHDR chunk).
for size in 16 32 48 256; do
    got=$(od -An -tu1 -j16 -N8 "$root/share/icons/hicolor/${size}x${size}/apps/$id.png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$got" = "${size}x${size}" ] || fail "icon in ${size}x${size} is $got"
done
grep -qx "Icon=$id" "$root/share/applications/$id.desktop" || fail "desktop entry names another icon"
grep -qx 'Exec=quaymend %f' "$root/share/applications/$id.desktop" || fail "desktop entry's Exec"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$root/share/metainfo/$id.metainfo.xml" ||
    fail "metainfo launches another desktop entry"

# The metainfo's newest release is the version the installed program reports.
version=$("$(built_program "$root/bin/quaymend" "$work")" --version | sed -n 's/^quaymend //p')
[ -n "$version" ] || fail "no version from the installed program"
grep -q "<release version=\"$version\"" "$root/share/metainfo/$id.metainfo.xml" ||
    fail "metainfo has no release $version"
zcat "$root/share/man/man1/quaymend.1.gz" | grep -q "Quaymend $version" || fail "man page is not for $version"
zcat "$root/share/doc/quaymend/changelog.gz" | head -n 1 | grep -q "^quaymend ($version)" ||
    fail "changelog does not begin with $version"

# The rule must come before 73-seat-late.rules, which turns the uaccess tag into access.
rule=$(grep -v '^#' "$root/lib/udev/rules.d/70-quaymend.rules")
grep -q 'SUBSYSTEM!="tty", GOTO=' <<<"$rule" || fail "udev rule is not limited to tty devices"
grep -q 'ATTRS{idVendor}=="3e71".*TAG+="uaccess".*ENV{ID_MM_DEVICE_IGNORE}="1"' <<<"$rule" ||
    fail "udev rule does not tag vendor 3e71 for uaccess and ModemManager's ignore list"

[ "$failures" -eq 0 ] || exit 1
echo "PASS: desktop files valid and consistent, installed files as listed"
