#!/usr/bin/env bash
# Builds the console and the `mbus` tool, starts a simulated meter (`mbus sim`) on the lowest free
# COM number of the user's port map, then starts the console, so a first run has a meter to read:
# pick that COM port, open it and send. Without a display it reads the simulated meter with
# `mbus read` instead. The simulator, and with it its COM link, is stopped when the console ends;
# real ports are listed and used as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target mbus-console mbus
mbus=build/release/src/tools/mbus
console=build/release/src/console/mbus-console

# The simulator prints "COM<n> <device>" once its link is in place.
exec {sim_out}< <(exec "$mbus" sim)
sim_pid=$!
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}
trap stop_sim EXIT
trap 'exit 130' INT TERM HUP

com="" device=""
if ! read -r -t 10 com device <&"$sim_out" || [[ $com != COM* ]]; then
    echo "run-console: the simulated meter did not start; starting the console without it" >&2
    com=""
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run-console: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the console"
    echo "cannot open its window."
    [ -n "$com" ] || exit 1
    echo "Reading the simulated meter on $com ($device) with mbus read instead:"
    echo "\$ $mbus read --port $com"
    "$mbus" read --port "$com"
    exit
fi

if [ -n "$com" ]; then
    echo "Simulated meter on $com ($device)."
    echo "In the console: pick $com in 串口号, press 打开串口, then 发送; the decoded reply"
    echo "appears in 数据分析. The simulated meter stops when the console closes."
fi
"$console"
