#!/usr/bin/env bash
# Starts the console on a virtual display and writes a picture of its main window to
# docs/console.png. The console runs with a ports folder of its own (one port COM3 standing for
# /dev/null, discovery off), so the picture is the same on every machine and no port is touched.
# BUILD_DIR names the build tree (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for tool in import:imagemagick xwininfo:x11-utils; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${tool#*:}" >/dev/null
    fi
done

build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target mbus-console
console=$(cd "$build" && pwd)/src/console/mbus-console

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/mbus-console/ports"
touch "$work/config/mbus-console/ports/no-discovery"
ln -s /dev/null "$work/config/mbus-console/ports/COM3"

# The window is designed at left 256, top 167, client area 919 x 537; without a window manager
# it appears exactly there.
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    XDG_CONFIG_HOME="$1/config" "$2" &
    console=$!
    for _ in $(seq 100); do
        if xwininfo -root -tree 2>/dev/null | grep -q "M-bus"; then
            sleep 1 # let the first paint finish
            import -window root -crop 919x537+256+167 +repage "$1/console.png"
            break
        fi
        sleep 0.1
    done
    kill "$console"
' screenshot "$work" "$console"
if [ ! -s "$work/console.png" ]; then
    echo "screenshot: the console window did not appear" >&2
    exit 1
fi
cp "$work/console.png" docs/console.png
echo "wrote docs/console.png"
