# Sourced by the scripts beside it: installs what glide needs to build and
# test, when it is missing and we may, and configures and builds a preset.

# Everything, so that one preset serves running and testing alike.
glide_packages=(cmake ninja-build g++ libx11-dev libxrandr-dev libxi-dev libsystemd-dev
                libwayland-dev libwayland-bin plasma-wayland-protocols libgtest-dev
                libglib2.0-bin xvfb xdotool x11-xserver-utils xprintidle dbus-daemon
                python3-dbusmock python3-xlib python3 nodejs)

# The tests on a private headless GNOME Shell, and the packing of its
# extension: some 270 packages, needed for nothing else.
gnome_packages=(gnome-shell gjs)

# The tests on a private headless KWin: some 140 packages, needed for
# nothing else.
kde_packages=(kwin-wayland)

# The checks beyond the build: clang's fuzzing runtime, its formatter and
# linter, what packaging and checking the packages and manual use, and the
# instruction counter of a benchmark.
check_packages=(clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14 dpkg-dev file
                groff-base unzip lintian valgrind systemd desktop-file-utils)

# The Windows build: the cross compiler, GoogleTest's sources, Wine with the
# X libraries its display driver loads when it starts, the tests' stand-in X
# tray, and NSIS for the installer.
windows_packages=(g++-mingw-w64-x86-64-posix googletest wine wine64 libxrandr2 libxinerama1
                  libxi6 libxfixes3 libxcursor1 libxrender1 libxcomposite1 libxxf86vm1
                  nsis)

# Installs the Debian packages among the arguments that are not installed yet.
install_missing() {
    command -v dpkg-query >/dev/null || return 0  # not Debian: bring them yourself
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local as=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "glide: missing packages: ${missing[*]} (install them as root)" >&2
            return 1
        fi
        as=(sudo)
    fi
    # On standard error, all of it: standard output is glide's lines alone.
    echo "glide: installing ${missing[*]}" >&2
    "${as[@]}" apt-get update -q >&2
    "${as[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}" >&2
}

# Configures the given preset and builds the given target (all by default).
build_preset() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" ${2:+--target "$2"}
}
