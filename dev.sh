#!/usr/bin/env bash
# Set-up and run commands for Tallyview on Debian 12:
#   bash dev.sh demo   build, then play the bundled sample game into the live window
#   bash dev.sh test   build, then run the whole test suite (including the sanitizer build)
#   bash dev.sh package build, then make the Debian package build/tallyview_VERSION_ARCH.deb
# Missing Debian packages are installed first (apt-get; through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

# What building and running the program takes: the demo installs only these.
PROGRAM_PACKAGES=(
    g++ cmake ninja-build pkg-config help2man fonts-liberation
    qt6-base-dev qt6-serialport-dev qt6-websockets-dev libgl-dev libcups2-dev
    libqrencode-dev # the Share window's QR code
    libmosquitto-dev # publishing the line to MQTT and mirroring it
    # The demo's window without a display, and its screenshot
    xvfb xauth x11-apps netpbm
)
# What the tests, the benchmarks and the package's checks take besides.
TEST_PACKAGES=(
    libgtest-dev libbenchmark-dev libvterm-dev
    xclip socat procps poppler-utils
    cups cups-client cups-bsd printer-driver-cups-pdf
    clang libclang-rt-14-dev
    # The Debian package (dpkg-shlibdeps, file), its man pages and its checks
    dpkg-dev file lintian desktop-file-utils appstream debootstrap
    chromium # a real browser for the web view's tests
    python3 # parsers of another program for the fields' JSON, XML and CSV
    # Real key presses and wheel turns for the window tests
    xdotool
    mosquitto # the tests start real brokers
    mosquitto-clients # a publisher of the tests' own that is not the process measured
    nats-server # a clustered broker, with MQTT, for the tests of failing over between nodes
    # The core and tallyview-replay built for Windows, their tests under Wine
    g++-mingw-w64-x86-64-posix googletest wine wine64
    ttyrec # the journal tests check our files with ttytime
    # The close request a window manager sends, for the modality tests
    libx11-dev
    ser2net # the serial device server the network line tests connect to
    systemd # systemd-analyze checks the relay's unit
    openssl # self-signed certificates for the web view's HTTPS tests
    # A network cable the line tests pull: a namespace with a veth pair, packets dropped there
    iproute2 nftables
    # The window menu read from the accessibility bus, as a screen reader reads it
    dbus-bin at-spi2-core python3-gi gir1.2-atspi-2.0
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() { # install_packages PACKAGE...: those not installed yet
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure() { # configure DIR [cmake options...]
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
}

build() { # build DIR [cmake options...]
    configure "$@"
    cmake --build "$1"
}

run_tests() {
    build build -DTALLYVIEW_TESTS=ON -DTALLYVIEW_BENCH=ON
    # Qt tests get a real X server; the clipboard tests need one.
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir build --output-on-failure --timeout 300 -LE chroot
    # The package installed into a fresh Debian 12: a few minutes, root and a network.
    ctest --test-dir build --output-on-failure -L chroot
    # The core once more under AddressSanitizer + UndefinedBehaviorSanitizer, with clang so
    # the same configuration also builds the libraries that read outside input (no windows) and
    # briefly runs a libFuzzer target for each reader (ctest -L fuzz).
    build build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
        -DTALLYVIEW_CORE_ONLY=ON -DTALLYVIEW_SANITIZE=ON -DTALLYVIEW_FUZZ=ON
    ctest --test-dir build-asan --output-on-failure --timeout 600
    # The core and tallyview-replay for Windows (mingw-w64); the tests run under Wine, and the
    # replay tool is compared with the Linux one.
    build build-mingw -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DTALLYVIEW_CORE_ONLY=ON -DTALLYVIEW_BENCH=OFF \
        -DTALLYVIEW_LINUX_REPLAY="$ROOT/build/tools/tallyview-replay"
    ctest --test-dir build-mingw --output-on-failure --timeout 600
}

run_package() {
    build build -DTALLYVIEW_TESTS=ON -DTALLYVIEW_BENCH=ON
    cpack --config build/CPackConfig.cmake -B build
}

# Only what the demo runs: no tests, no benchmarks.
run_demo() {
    configure build -DTALLYVIEW_TESTS=OFF -DTALLYVIEW_BENCH=OFF
    cmake --build build --target tallyview tallyview-feed
    bash "$ROOT/tools/demo.sh" "$ROOT/build"
}

case "${1:-}" in
    test) install_packages "${PROGRAM_PACKAGES[@]}" "${TEST_PACKAGES[@]}"; run_tests ;;
    demo) install_packages "${PROGRAM_PACKAGES[@]}"; run_demo ;;
    package) install_packages "${PROGRAM_PACKAGES[@]}" "${TEST_PACKAGES[@]}"; run_package ;;
    *) echo "usage: bash dev.sh demo|test|package" >&2; exit 2 ;;
esac
