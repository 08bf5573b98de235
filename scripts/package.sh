#!/usr/bin/env bash
# Builds the packages of the console and the `mbus` tool and prints their paths:
# - the Debian package: a Release build with Debian's compiler and linker flags (the hardening
#   ones among them), without tests and benchmarks, in build/package, then CPack;
# - where a Qt for MinGW-w64 is there (the archive in ../shared/qt6-mingw/ beside the checkout,
#   or the prefix in MBUS_QT_MINGW), the Windows installer and zip: a Release build of the
#   Windows programs in build/package-windows, then CPack (NSIS and ZIP).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

dir=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMBUS_WITH_TESTS=OFF \
    -DMBUS_WITH_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*.deb
cpack --config "$dir/CPackConfig.cmake" -B "$dir" >/dev/null
ls "$PWD/$dir"/*.deb

qt_archive=../shared/qt6-mingw/qt6-mingw-6.4.2-static.tar.xz
if [ -n "${MBUS_QT_MINGW:-}" ]; then
    qt_option=(-DMBUS_QT_MINGW="$MBUS_QT_MINGW")
elif [ -f "$qt_archive" ]; then
    qt_option=(-DMBUS_QT_MINGW_ARCHIVE="$(realpath "$qt_archive")")
else
    echo "package: no Windows installer: no Qt for MinGW-w64 (neither $qt_archive nor MBUS_QT_MINGW)" >&2
    exit 0
fi
dir=build/package-windows
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DMBUS_WITH_TESTS=OFF \
    -DMBUS_WITH_GUI=ON "${qt_option[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*-setup.exe "$dir"/*.zip
cpack --config "$dir/CPackConfig.cmake" -B "$dir" >/dev/null
ls "$PWD/$dir"/*-setup.exe "$PWD/$dir"/*.zip
