#!/usr/bin/env bash
# Builds the console and the `mbus` tool and starts the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target mbus-console mbus
exec build/release/src/console/mbus-console
