#!/usr/bin/env bash
# Set-up and run commands for Tallyview on Debian 12:
#   bash dev.sh demo   build, then play the bundled sample game into the live window
#   bash dev.sh test   build, then run the whole test suite (including the sanitizer build)
#   bash dev.sh package build, then make the Debian package build/tallyview_VERSION_ARCH.deb
# Missing Debian packages are installed first (apt-get; through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

PACKAGES=(
    g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev
    qt6-base-dev qt6-serialport-dev libgl-dev libvterm-dev
    xvfb xauth xclip socat procps fonts-liberation poppler-utils x11-apps netpbm
    cups cups-client cups-bsd printer-driver-cups-pdf libcups2-dev
    clang libclang-rt-14-dev
    # The Debian package (dpkg-shlibdeps, file), its man pages and its checks
    dpkg-dev file help2man lintian desktop-file-utils appstream debootstrap
    # The web view: WebSocket framing, QR codes; a real browser for its tests.
    qt6-websockets-dev libqrencode-dev chromium
    # Real key presses and wheel turns for the window tests
    xdotool
    libmosquitto-dev mosquitto # publishing the line to MQTT; the tests start real brokers
    mosquitto-clients # a publisher of the tests' own that is not the process measured
    # The core and tallyview-replay built for Windows, their tests under Wine
    g++-mingw-w64-x86-64-posix googletest wine wine64
    ttyrec # the journal tests check our files with ttytime
    # The close request a window manager sends, for the modality tests
    libx11-dev
    ser2net # the serial device server the network line tests connect to
    openssl # self-signed certificates for the web view's HTTPS tests
    # A network cable the line tests pull: a namespace with a veth pair, packets dropped there
    iproute2 nftables
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() { # build DIR [cmake options...]
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir"
}

run_tests() {
    build build
    # Qt tests get a real X server; the clipboard tests need one.
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir build --output-on-failure --timeout 300 -LE chroot
    # The package installed into a fresh Debian 12: a few minutes, root and a network.
    ctest --test-dir build --output-on-failure -L chroot
    # The core once more under AddressSanitizer + UndefinedBehaviorSanitizer, with clang so
    # the same configuration also builds and briefly runs the libFuzzer target.
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
    build build
    cpack --config build/CPackConfig.cmake -B build
}

run_demo() {
    build build
    bash "$ROOT/tools/demo.sh" "$ROOT/build"
}

case "${1:-}" in
    test) install_packages; run_tests ;;
    demo) install_packages; run_demo ;;
    package) install_packages; run_package ;;
    *) echo "usage: bash dev.sh demo|test|package" >&2; exit 2 ;;
esac
