#!/usr/bin/env bash
# Starts the console on a virtual display and writes these pictures:
# - docs/console.png, its main window at start-up. The console runs with a ports folder of its
#   own (one port COM3 standing for /dev/null, discovery off), so the picture is the same on
#   every machine and no port is touched;
# - docs/readings.png, its readings window after reading a simulated meter (`mbus sim` on COM1 of
#   another ports folder of its own) with timed sending for some seconds. The readings are also
#   exported with Ctrl+S, and the script checks that the file holds them;
# - docs/exchanges.png, the main window reading a simulated meter behind a two-wire converter that
#   echoes the request and answers in bursts, with 时间戳 ticked: TX and RX lines with their times,
#   the replies decoded, the verdict of the last request in the status bar;
# - docs/operations.png, the meter operations window after closing the valve of a simulated
#   meter, reading it, setting its clock, reading its prices and last month, and an identifier it
#   refuses.
# - docs/rounds.png, the readings window after one round (轮抄) of a list of 50 simulated meters,
#   three of them silent: each row's result in the list pane, the summary naming the three.
# BUILD_DIR names the build tree (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for tool in import:imagemagick xwininfo:x11-utils xdotool:xdotool; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${tool#*:}" >/dev/null
    fi
done

build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target mbus-console mbus
console=$(cd "$build" && pwd)/src/console/mbus-console
mbus=$(cd "$build" && pwd)/src/tools/mbus

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for home in config readings-config; do
    mkdir -p "$work/$home/mbus-console/ports"
    touch "$work/$home/mbus-console/ports/no-discovery"
done
# One port to list, COM3: a simulated meter (the port map lists terminals only).
XDG_CONFIG_HOME="$work/config" "$mbus" sim --com 3 >"$work/com3.out" &
com3=$!
trap 'kill "$com3" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    [ -s "$work/com3.out" ] && break
    sleep 0.1
done

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

# The readings: the controls are clicked at their designed places (window at 256, 167).
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -e
    work=$1 console=$2 mbus=$3
    export XDG_CONFIG_HOME="$work/readings-config"
    "$mbus" sim --meter 0:12345678901234 --com 1 >"$work/sim.out" &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    "$console" &
    console=$!
    for _ in $(seq 100); do xdotool search --name "M-bus" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    # The last click leaves the focus in the main window for Ctrl+R; the readings window then
    # goes where it covers none of the controls clicked later.
    xdotool mousemove 572 229 click 1 key ctrl+a type --delay 40 "12 34 56 78 90 12 34" # 表地址
    xdotool mousemove 364 648 click 1                                                  # 打开串口
    sleep 0.5
    xdotool mousemove 1018 260 click 1 key ctrl+a type --delay 40 "500"                 # ms/次
    xdotool mousemove 922 260 click 1                                                  # 定时发送
    xdotool key ctrl+r                                                                 # 读数记录
    sleep 1
    readings=$(xdotool search --name "读数记录" | head -1)
    xdotool windowmove "$readings" 300 350
    sleep 10
    xdotool mousemove 922 260 click 1 # timed sending off
    sleep 0.5
    xdotool mousemove 1100 850 click 1 key ctrl+s # the save dialog takes the focus
    sleep 1
    xdotool key ctrl+a type --delay 40 "$work/readings.csv"
    xdotool key Return
    sleep 1
    import -window "$readings" "$work/readings.png"
    kill "$console" "$sim"
' readings "$work" "$console" "$mbus"
rows=$(grep -c ",12345678901234,0x10,.*,是,是," "$work/readings.csv" 2>/dev/null || true)
rows=${rows:-0}
if [ ! -s "$work/readings.png" ] || [ "$rows" -lt 5 ]; then
    echo "screenshot: the readings were not taken or not exported (rows: $rows)" >&2
    exit 1
fi

# Requests and their answers: an echoing meter that answers in three bursts, 100 ms apart.
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -e
    work=$1 console=$2 mbus=$3
    export XDG_CONFIG_HOME="$work/readings-config"
    "$mbus" sim --meter 0:12345678901234 --com 1 --echo --split 3:100 >"$work/sim2.out" &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim2.out" ] && break; sleep 0.1; done
    "$console" &
    console=$!
    for _ in $(seq 100); do xdotool search --name "M-bus" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    xdotool mousemove 572 229 click 1 key ctrl+a type --delay 40 "12 34 56 78 90 12 34" # 表地址
    xdotool mousemove 783 484 click 1                                                  # 时间戳
    xdotool mousemove 364 648 click 1                                                  # 打开串口
    sleep 0.5
    xdotool mousemove 1018 260 click 1 key ctrl+a type --delay 40 "700"                 # ms/次
    xdotool mousemove 922 260 click 1                                                  # 定时发送
    sleep 4
    xdotool mousemove 922 260 click 1 # timed sending off
    sleep 1.5
    import -window root -crop 919x537+256+167 +repage "$work/exchanges.png"
    kill "$console" "$sim"
' exchanges "$work" "$console" "$mbus"
if [ ! -s "$work/exchanges.png" ]; then
    echo "screenshot: the exchanges were not taken" >&2
    exit 1
fi

# The meter operations window: the valve closed (its confirmation answered with Enter), the
# current data read (the valve closed in the status), the clock set on a meter whose clock was
# put back first (the offset corrected), the price table, last month's counter, and an identifier
# the meter does not know (refused). The window appears at the screen's corner; its buttons are clicked there.
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -e
    work=$1 console=$2 mbus=$3
    export XDG_CONFIG_HOME="$work/readings-config"
    "$mbus" sim --meter 0:12345678901234 --com 1 >"$work/sim3.out" 2>"$work/sim3.err" &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim3.out" ] && break; sleep 0.1; done
    "$mbus" set-time --port COM1 --addr 12345678901234 --time 20250101000000 >/dev/null
    "$console" &
    console=$!
    for _ in $(seq 100); do xdotool search --name "M-bus" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    xdotool mousemove 572 229 click 1 key ctrl+a type --delay 40 "12 34 56 78 90 12 34" # 表地址
    xdotool mousemove 364 648 click 1                                                  # 打开串口
    sleep 0.5
    xdotool key ctrl+m                                                                 # 表操作
    sleep 1
    operations=$(xdotool search --name "表操作" | head -1)
    click() { xdotool mousemove "$1" "$2" click 1; sleep 0.7; }
    click 663 79 && xdotool key Return && sleep 0.7             # 关阀, confirmed
    click 220 79                                                # 读当前数据
    click 750 79 && xdotool key Return && sleep 0.7             # 校时: the clock read, confirmed
    click 330 79                                                # 读价格表
    click 220 139                                               # 读历史数据 (上1月)
    click 325 139 && xdotool key ctrl+a type --delay 40 "12 34" # the identifier to read
    click 440 139                                               # 读标识
    xdotool windowsize "$operations" 1000 660
    sleep 1
    import -window "$operations" "$work/operations.png"
    grep -q "valve closed" "$work/sim3.err"
    grep -q "clock set to" "$work/sim3.err"
    kill "$console" "$sim"
' operations "$work" "$console" "$mbus"
if [ ! -s "$work/operations.png" ]; then
    echo "screenshot: the meter operations were not taken" >&2
    exit 1
fi

# A round of 50 meters, three silent (17, 29, 41): the list loaded with 打开清单, the round started
# with 开始轮抄; the buttons are clicked in the readings window, which stands at the screen's corner.
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    set -e
    work=$1 console=$2 mbus=$3
    export XDG_CONFIG_HOME="$work/readings-config"
    {
        echo "# 3 号楼冷水表"
        for i in $(seq 50); do
            printf "%014d,冷水水表,%d-%d0%d\n" "$i" $(((i - 1) / 10 + 1)) $(((i - 1) % 10 / 2 + 1)) \
                $(((i - 1) % 2 + 1))
        done
    } >"$work/meters.csv"
    "$mbus" sim --meters "$work/meters.csv" --silent-meter 00000000000017 \
        --silent-meter 00000000000029 --silent-meter 00000000000041 --com 1 --unpaced \
        >"$work/sim4.out" &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim4.out" ] && break; sleep 0.1; done
    "$console" &
    console=$!
    for _ in $(seq 100); do xdotool search --name "M-bus" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    xdotool mousemove 364 648 click 1 # 打开串口
    sleep 0.5
    xdotool key ctrl+r                # 读数记录
    sleep 1
    readings=$(xdotool search --name "读数记录" | head -1)
    xdotool windowmove "$readings" 0 0
    sleep 0.5
    xdotool mousemove --window "$readings" 62 81 click 1 # 打开清单
    sleep 1
    xdotool type --delay 20 "$work/meters.csv"
    xdotool key Return
    sleep 1
    # The file name completion of the dialog may still stand on the screen: a click beside the
    # buttons takes it away.
    xdotool mousemove --window "$readings" 400 583 click 1
    sleep 0.5
    xdotool mousemove --window "$readings" 62 583 click 1 # 开始轮抄
    sleep 10
    import -window "$readings" "$work/rounds.png"
    kill "$console" "$sim"
' rounds "$work" "$console" "$mbus"
if [ ! -s "$work/rounds.png" ]; then
    echo "screenshot: the round was not taken" >&2
    exit 1
fi

# Fewer colours keep the pictures small; the windows use few anyway.
convert "$work/console.png" -colors 128 docs/console.png
convert "$work/readings.png" -colors 128 docs/readings.png
convert "$work/exchanges.png" -colors 128 docs/exchanges.png
convert "$work/operations.png" -colors 128 docs/operations.png
convert "$work/rounds.png" -colors 128 docs/rounds.png
echo "wrote docs/console.png, docs/readings.png, docs/exchanges.png, docs/operations.png and" \
    "docs/rounds.png ($rows readings exported)"
