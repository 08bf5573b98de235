#!/usr/bin/env bash
# mbus-console.exe in a real window under Wine, driven with xdotool on the session's display the
# way a user drives it: the port list shows the ports the registry lists (COM3 with nothing
# behind it, COM7 a link to the pseudo-terminal of a native `mbus sim`); the test picks COM7,
# presses 打开串口 and 发送, saves the traffic view (保存窗口) until it holds the meter's reply,
# opens the readings window (Ctrl+R) and exports its rows (Ctrl+S) under the proposed name, then
# ends the simulated meter and waits for the line-loss box. Every wait is bounded; the whole test takes well under
# two minutes. Screenshots of the window with the decoded reply and of the line-loss box go to
# the output folder.
#
#   console_window_test.sh <session folder> <native mbus> <mbus-console.exe> <register_port.exe>
#                          <output folder>
set -euo pipefail
session=${1:?session folder}
native=${2:?native mbus}
console_exe=${3:?mbus-console.exe}
register_port=${4:?register_port.exe}
output=${5:?output folder}
# shellcheck source=/dev/null
source "$session/env"
mkdir -p "$output"
rm -f "$output"/*.png

work=$(mktemp -d)
sim_pid=""
console_pid=""
cleanup() {
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com7"
    rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/mbus-console
    wine "$register_port" remove '\Device\MbusSim7' >/dev/null 2>&1
    wine "$register_port" remove '\Device\MbusTest3' >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    [ -n "$console_pid" ] && import -window root "$output/failure.png" 2>/dev/null
    if [ -s "$work/console.log" ]; then
        echo "console output:" >&2
        cat "$work/console.log" >&2
    fi
    exit 1
}

# until <seconds> <command...>: runs the command every 0.2 s until it succeeds; fails on time-out.
until_within() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# The first window whose title is exactly the given text, once it is mapped.
window_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
window_there() { [ -n "$(window_named "$1")" ]; }

# A click at a place of the main window's client area (its designed coordinates).
click() { xdotool mousemove --window "$form" "$1" "$2" click 1; }

# The simulated meter on a pseudo-terminal, in a ports folder of its own; COM7 of the prefix is a
# link to it, registered as a driver registers a port. COM3 is listed too, with no device.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/mbus-console/ports"
touch "$XDG_CONFIG_HOME/mbus-console/ports/no-discovery"
"$native" sim >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
until_within 10 test -s "$work/sim.out" || fail "mbus sim did not start: $(cat "$work/sim.err")"
device=$(awk '{ print $2 }' "$work/sim.out")
ln -sfn "$device" "$WINEPREFIX/dosdevices/com7"
wine "$register_port" add '\Device\MbusTest3' COM3 || fail "cannot register COM3"
wine "$register_port" add '\Device\MbusSim7' COM7 || fail "cannot register COM7"

# The console runs from a folder of its own, which its save dialog proposes, with no settings
# stored by an earlier run (自动重连 would take the line loss quietly).
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/mbus-console
ln "$console_exe" "$work/mbus-console.exe" 2>/dev/null || cp "$console_exe" "$work/mbus-console.exe"
(cd "$work" && exec wine "$work/mbus-console.exe") >"$work/console.log" 2>&1 </dev/null &
console_pid=$!
until_within 60 window_there "M-bus测试工具" || fail "the console window did not appear"
form=$(window_named "M-bus测试工具")

# 串口号 lists COM3 and COM7, COM3 shown: Down in its field picks COM7. Then 打开串口 and 发送.
click 95 384
xdotool key Down
click 108 481
click 876 91

# 保存窗口 writes the traffic view to MbusTest.TXT beside the program (the dialog, 另存为 in Qt's
# Chinese, proposes it; Return accepts), again until the reply is in it.
reply_saved() {
    rm -f "$work/MbusTest.TXT"
    click 741 316
    until_within 10 window_there "另存为" || return 1
    xdotool key Return
    until_within 10 test -e "$work/MbusTest.TXT" || return 1
    grep -aq "^FE FE 68 10 01 00 00 00 00 00 00 81 16 1F 90 " "$work/MbusTest.TXT"
}
until_within 30 reply_saved || fail "no reply of the simulated meter in the saved traffic view"
xdotool getwindowgeometry "$form" >"$work/geometry"
read -r x y < <(awk '/Position/ { split($2, p, ","); print p[1], p[2] }' "$work/geometry")
import -window root -crop "919x537+$x+$y" +repage "$output/console.png" ||
    fail "cannot take the screenshot"

# The readings window keeps the decoded reply; its export is the CSV the tools write too, under
# the proposed Chinese name in the user's folder (a name outside the ANSI code page).
exported() { find "$WINEPREFIX/drive_c/users" -maxdepth 2 -name '读数记录_*.csv' | head -1; }
exported_there() { [ -n "$(exported)" ]; }
find "$WINEPREFIX/drive_c/users" -maxdepth 2 -name '*.csv' -delete
click 460 200
xdotool key ctrl+r
until_within 20 window_there "读数记录" || fail "the readings window did not open"
readings=$(window_named "读数记录")
xdotool mousemove --window "$readings" 400 300 click 1 key ctrl+s
until_within 10 window_there "另存为" || fail "the export dialog did not open"
xdotool key Return
until_within 10 exported_there ||
    fail "no 读数记录_*.csv in the user's folder: $(ls "$WINEPREFIX"/drive_c/users/*/)"
csv=$(exported)
mv "$csv" "$work/readings.csv"
grep -aq ",COM7,00000000000001,0x10,000012\.[0-9][0-9],m³,000010\.00,m³,.*,0000,开,正常,是," \
    "$work/readings.csv" || {
    cat "$work/readings.csv" >&2
    fail "the exported readings do not hold the decoded reply from COM7"
}

# The meter goes away: the console says the line is lost.
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
until_within 30 window_there "错误" || fail "no line-loss box after the meter ended"
import -window root "$output/line-lost.png" || true
xdotool key --window "$(window_named "错误")" Return
until_within 10 sh -c '! xdotool search --onlyvisible --name "^错误\$" >/dev/null' ||
    fail "the line-loss box did not close"
echo "mbus-console.exe under Wine: read COM7, exported the reading, showed the line loss"
