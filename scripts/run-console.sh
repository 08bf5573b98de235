#!/usr/bin/env bash
# Builds the programs and runs them. For now: the `mbus` tool's help.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target mbus
exec build/release/src/tools/mbus --help
