#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# The desktop's own file chooser comes through its portal.
ensure_packages "${BUILD_PACKAGES[@]}" qt6-wayland qt6-xdgdesktopportal-platformtheme
build_project -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "quorvex needs a graphical desktop and none was found (DISPLAY and WAYLAND_DISPLAY are unset); $BUILD_DIR/cli/quorvex-cli works without one." >&2
    exit 1
fi
exec "$BUILD_DIR/ui/quorvex"
