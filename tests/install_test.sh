#!/usr/bin/env bash
# Installs the build into a scratch root and builds the Debian package, and checks
# that both put every file where the desktop looks for it, valid.
# Usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
id=org.quorvex.Quorvex
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

expected_files() {
    echo usr/bin/quorvex usr/bin/quorvex-cli
    echo usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
    echo usr/share/man/man1/quorvex.1.gz usr/share/man/man1/quorvex-cli.1.gz
    echo usr/share/icons/hicolor/scalable/apps/$id.svg
    for size in 16 32 48 64 128 256; do
        echo usr/share/icons/hicolor/${size}x$size/apps/$id.png
    done
}

check_tree() { # ROOT WHAT
    local file
    for file in $(expected_files); do
        [ -s "$1/$file" ] || fail "$2 lacks /$file"
    done
    [ -x "$1/usr/bin/quorvex" ] && [ -x "$1/usr/bin/quorvex-cli" ] || fail "$2: programs not executable"
}

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null || fail "cmake --install"
check_tree "$work/root" "the install"
desktop-file-validate "$work/root/usr/share/applications/$id.desktop" || fail "desktop entry"
grep -qx 'Exec=quorvex' "$work/root/usr/share/applications/$id.desktop" || fail "Exec line"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "metainfo: $(appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml")"
for size in 16 256; do
    width=$(od -An -tu1 -j16 -N4 "$work/root/usr/share/icons/hicolor/${size}x$size/apps/$id.png" |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
    [ "$width" = "$size" ] || fail "the ${size}px icon is $width pixels wide"
done

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$work"/package/*.deb 2>/dev/null | head -1)
if [ -n "$deb" ]; then
    dpkg-deb -x "$deb" "$work/unpacked" || fail "dpkg-deb -x"
    check_tree "$work/unpacked" "the package"
    depends=$(dpkg-deb -f "$deb" Depends)
    case "$depends" in *libqt6widgets6*libstdc++6* | *libstdc++6*libqt6widgets6*) ;;
        *) fail "dependencies not computed: '$depends'" ;; esac
    [ "$(dpkg-deb -f "$deb" Version)" = "1.0.0.1" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
else
    fail "no package was built"
fi

[ "$failures" -eq 0 ] || exit 1
echo "install and package: 2 passed, 0 failed"
