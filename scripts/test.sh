#!/usr/bin/env bash
# Builds and runs every test: the regular build (all labels), then the unit and serial tests and
# the fuzz targets under AddressSanitizer+UndefinedBehaviorSanitizer, then the threaded tests
# under ThreadSanitizer, then the Windows build (MinGW-w64) with its tests under Wine, then the
# Windows console (with a Qt for MinGW-w64: the archive in ../shared/qt6-mingw/ beside the
# checkout, or the prefix in MBUS_QT_MINGW) with its tests and its installer under Wine. Build
# trees go to build/ beside this script's repository.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

jobs=$(nproc)
section() { printf '\n==== %s ====\n' "$*"; }

configure() { # <dir> <cmake options...>
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

section "regular build (gcc)"
configure build/release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 600

section "AddressSanitizer + UndefinedBehaviorSanitizer build (clang), unit/serial/fuzz"
configure build/asan -DCMAKE_CXX_COMPILER=clang++ -DMBUS_SANITIZE=address,undefined \
    -DMBUS_WITH_GUI=OFF -DMBUS_WITH_BENCH=OFF -DMBUS_WITH_FUZZERS=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j "$jobs" -L 'unit|serial|fuzz' --timeout 900

section "ThreadSanitizer build (clang), threaded tests"
configure build/tsan -DCMAKE_CXX_COMPILER=clang++ -DMBUS_SANITIZE=thread \
    -DMBUS_WITH_GUI=OFF -DMBUS_WITH_BENCH=OFF
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L 'tsan' --timeout 900

section "Windows build (MinGW-w64), tests under Wine"
# The Linux build above provides the Wine tests' helpers (COM port pairs, the modem-line shim)
# and the `mbus sim` that mbus.exe reads.
configure build/windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DMBUS_NATIVE_BUILD="$root/build/release" -DMBUS_WITH_GUI=OFF
cmake --build build/windows -j "$jobs"
ctest --test-dir build/windows --output-on-failure -j "$jobs" --timeout 600

section "Windows console (Qt for MinGW-w64), its tests and installer under Wine"
# The same build tree with the console added: the offscreen console and port dialog tests, the
# console in a real window against `mbus sim`, and the installer (labels gui and install).
qt_archive=$root/../shared/qt6-mingw/qt6-mingw-6.4.2-static.tar.xz
if [ -n "${MBUS_QT_MINGW:-}" ]; then
    qt_option=(-DMBUS_QT_MINGW="$MBUS_QT_MINGW")
elif [ -f "$qt_archive" ]; then
    qt_option=(-DMBUS_QT_MINGW_ARCHIVE="$(realpath "$qt_archive")")
else
    qt_option=()
fi
if [ ${#qt_option[@]} -eq 0 ]; then
    echo "skipped: no Qt for MinGW-w64 (neither ../shared/qt6-mingw/$(basename "$qt_archive") nor MBUS_QT_MINGW)"
else
    configure build/windows -DMBUS_WITH_GUI=ON "${qt_option[@]}"
    cmake --build build/windows -j "$jobs"
    ctest --test-dir build/windows --output-on-failure -j "$jobs" -L 'gui|install' --timeout 600
fi

section "all tests passed"
