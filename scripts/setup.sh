# Shared by the scripts: installs the Debian packages the build needs, and configures and
# builds the project. Sourced, not run.

QUORVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$QUORVEX_ROOT/build}

BUILD_PACKAGES=(cmake g++ make libcli11-dev libacl1-dev qt6-base-dev librsvg2-bin)
# python3-xlib drops a file on the dialog, as a file manager does; acl and attr set what
# in-place runs must keep.
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool x11-utils
               python3-xlib desktop-file-utils appstream dpkg-dev acl attr)
# The Windows programs: the cross compiler, GoogleTest's sources for it, NSIS for the
# installer, and Wine to run them; python3 draws the icon.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest python3 nsis)
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth xdotool x11-utils python3-xlib)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "error: installing packages needs root, and sudo is not available" >&2
        return 1
    fi
}

# Installs whichever of the named packages are missing; asks apt nothing when none are.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq &&
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"
}

build_project() {
    cmake -S "$QUORVEX_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" "$@" &&
        cmake --build "$BUILD_DIR" -j2
}

WINDOWS_TOOLCHAIN=$QUORVEX_ROOT/cmake/mingw-w64-x86_64.cmake
