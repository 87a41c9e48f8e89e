#!/usr/bin/env bash
# Builds the release and its packages, without the tests: the Debian package in
# build-release/, and the Windows zip and installer in build-win-release/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" dpkg-dev "${WINDOWS_PACKAGES[@]}"

BUILD_DIR="$QUORVEX_ROOT/build-release" build_project -DQUORVEX_BUILD_TESTS=OFF \
    -DQUORVEX_BUILD_BENCH=OFF
(cd "$QUORVEX_ROOT/build-release" && cpack -G DEB)

BUILD_DIR="$QUORVEX_ROOT/build-win-release" build_project \
    -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_TOOLCHAIN" -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF
(cd "$QUORVEX_ROOT/build-win-release" && cpack)
for package in "$QUORVEX_ROOT"/build-release/quorvex_*.deb \
    "$QUORVEX_ROOT"/build-win-release/quorvex-*-win64{.zip,-setup.exe}; do
    [ -s "$package" ] || { echo "error: $package was not made" >&2; exit 1; }
    echo "made $package"
done
