#!/usr/bin/env bash
# Installs what is missing, cross-builds quorvex.exe, quorvex-cli.exe and the installer
# build-win/quorvex-1.0.0.1-win64-setup.exe, runs their tests under Wine (the dialog's
# against the Linux quorvex-cli, built first if need be), and packs
# build-win/quorvex-1.0.0.1-win64.zip.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

reference="$BUILD_DIR/cli/quorvex-cli"
if [ ! -x "$reference" ]; then
    cmake -S "$QUORVEX_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD_DIR" -j2 --target quorvex-cli
fi

windows="$QUORVEX_ROOT/build-win"
BUILD_DIR="$windows" build_project -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_TOOLCHAIN" \
    -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=OFF -DQUORVEX_REFERENCE_CLI="$reference"

# A throwaway Wine prefix, and one Wine server kept for the whole run.
export WINEPREFIX
WINEPREFIX=$(mktemp -d)
export WINEDEBUG=-all LANG=C.UTF-8
trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
wineserver -p
wineboot -i >/dev/null 2>&1
(cd "$windows" && ctest --output-on-failure)
(cd "$windows" && cpack >/dev/null && echo "packed $windows/quorvex-1.0.0.1-win64.zip")
