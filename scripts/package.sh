#!/usr/bin/env bash
# Builds the Debian package of the console and the `mbus` tool: a Release build with Debian's
# compiler and linker flags (the hardening ones among them), without tests and benchmarks, in
# build/package, then CPack. Prints the path of the .deb.
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
