#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_project -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF
"$BUILD_DIR/cli/quorvex-cli" --help
