#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and nothing when all are present.
# Runs as root (or through sudo when it is available).
set -euo pipefail

packages=(
    # compilers and build tools
    g++ cmake ninja-build pkg-config git
    # clang for the sanitizer builds and the libFuzzer targets
    clang libclang-rt-14-dev
    # Qt 6 Widgets for the console and the port selection dialog, and Qt's own Chinese texts
    # (qtbase_zh_CN.qm: the buttons of its message boxes, its file dialogs)
    qt6-base-dev libgl-dev qt6-translations-l10n
    # SVG artwork of the console, and the trend plot of its readings window (Qt Charts' CMake
    # package needs the OpenGL one, which its package does not pull in)
    qt6-svg-dev qt6-charts-dev libqt6opengl6-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    # GUI tests and the screenshot: a virtual display and fonts with Chinese glyphs; the Windows
    # console's window test drives it with xdotool and takes screenshots with ImageMagick
    xvfb xauth fonts-wqy-zenhei xdotool imagemagick
    # process statistics used by the benchmarks and CPU checks
    procps
    # man pages from --help, the desktop entry check of the install test, and the .deb
    # (dpkg-shlibdeps finds its runtime libraries; CPack finds the programs with file)
    help2man desktop-file-utils dpkg-dev file
    # the Windows build: MinGW-w64 cross compiler (posix threads), GoogleTest's sources for it,
    # 64-bit Wine to run its tests; for the Windows console the host tools of the Qt for
    # MinGW-w64 (moc, rcc, uic of the same version) and NSIS for its installer
    g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 qt6-base-dev-tools nsis
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
