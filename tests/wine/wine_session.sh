#!/usr/bin/env bash
# The Wine session the Windows build's tests run in: a throw-away prefix under the build tree,
# a virtual display (Xvfb) of its own, a wineserver started first and kept until the end, COM
# port pairs on pseudo-terminals, and the environment that run_under_wine.sh gives every test
# program.
#
#   wine_session.sh start <session folder> <native build folder> <pairs>
#   wine_session.sh stop  <session folder>
#
# Facts this script is built around (Wine 8):
#  - the first Wine process starts background services that inherit its standard output and
#    error; a caller reading those through a pipe (CTest) would wait until the wineserver ends.
#    The session starts them here with output to files;
#  - a wineserver that is a session leader takes the first terminal it opens as its controlling
#    terminal and gets a hang-up when the far side closes. Started in the foreground (-f) as a
#    child of this script it is no session leader;
#  - Wine links the machine's own serial ports (/dev/ttyS*, /dev/ttyUSB*, ...) as COM<n> and
#    registers them; tests must never list or open real ports, so those links and values are
#    removed once the session's services run (they come back only when the wineserver restarts);
#  - a program that crashes starts Wine's debugger, which prints a backtrace and, with standard
#    input not a terminal (CTest), makes the program exit with 0: a crashed test would pass. The
#    debugger is switched off, so the crash's own exit status reaches CTest;
#  - Wine copies every Start-menu entry a program makes into the user's own menus (~/.local,
#    ~/.config/menus); the installer test makes one, so that copier is switched off;
#  - the desktop of a prefix takes its size from the display its first processes saw (1024 x 768
#    without one): the session's display is there before the wineserver, and every program of
#    the session uses it, so a window of the console test is shown whole. The display number is
#    the first free one (-displayfd), never one that another program uses.
set -euo pipefail

command=${1:?start or stop}
session=${2:?session folder}
mkdir -p "$session"
session=$(cd "$session" && pwd)
prefix=$session/prefix

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

stop_session() {
    # The wineserver ends its Wine processes (the services among them) when asked with -k; killed
    # outright it would leave them behind. Then the session's own helpers go.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if [ -f "$session/pids" ]; then
        while read -r pid; do
            kill "$pid" 2>/dev/null || true
        done <"$session/pids"
        rm -f "$session/pids"
    fi
}

if [ "$command" = stop ]; then
    stop_session
    exit 0
fi

native=$(cd "${3:?native build folder}" && pwd)
pairs=${4:-4}
shim=$native/tests/wine/modem_line_shim.so
com_pair=$native/tests/wine/com_pair
for helper in "$shim" "$com_pair"; do
    if [ ! -e "$helper" ]; then
        echo "wine_session: $helper is missing: build the native tree first" >&2
        exit 1
    fi
done

stop_session
: >"$session/pids"

rm -f "$session/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$session/display" \
    >"$session/xvfb.log" 2>&1 </dev/null &
echo $! >>"$session/pids"
for _ in $(seq 100); do
    [ -s "$session/display" ] && break
    sleep 0.1
done
if [ ! -s "$session/display" ]; then
    echo "wine_session: the virtual display did not start (see $session/xvfb.log)" >&2
    stop_session
    exit 1
fi
export DISPLAY=":$(head -1 "$session/display")"

# The wineserver first, then the services, all with their output in files. Wine processes find
# the server by the socket it makes in a folder named after the prefix's device and inode.
mkdir -p "$prefix"
server=$(stat -c '%d %i' "$prefix" | awk '{ printf "server-%x-%x", $1, $2 }')
wineserver -f -p >"$session/wineserver.log" 2>&1 </dev/null &
echo $! >>"$session/pids"
for _ in $(seq 100); do
    compgen -G "/tmp/.wine-$(id -u)/$server/socket" >/dev/null && break
    compgen -G "/tmp/wine-*/$server/socket" >/dev/null && break
    sleep 0.1
done
wine wineboot -u >"$session/wineboot.log" 2>&1 </dev/null

# No real serial port in the session.
for link in "$prefix"/dosdevices/com*; do
    [ -L "$link" ] && rm -f "$link"
done
wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /va /f >>"$session/wineboot.log" 2>&1 || true

# The null-modem pairs: COM51-COM52, COM53-COM54, ... Above COM50, the last port the port
# selection dialog probes, and apart from the ports that tests expect to be missing (the
# console's COM5, COM12 and COM44, which COM300 is in eight bits).
first=51
list=""
for i in $(seq 0 $((pairs - 1))); do
    a=$((first + 2 * i))
    b=$((a + 1))
    "$com_pair" "$prefix/dosdevices" "$a" "$b" >"$session/pair$a.log" 2>&1 </dev/null &
    echo $! >>"$session/pids"
    list="$list $a:$b"
done
for i in $(seq 0 $((pairs - 1))); do
    a=$((first + 2 * i))
    for _ in $(seq 100); do
        grep -q "^COM$a " "$session/pair$a.log" 2>/dev/null && break
        sleep 0.05
    done
done

cat >"$session/env" <<ENV
export WINEPREFIX='$prefix' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d' WINEARCH=win64
export LD_PRELOAD='$shim'
export MBUS_TEST_COM_PAIRS='${list# }'
export DISPLAY='$DISPLAY'
unset WAYLAND_DISPLAY
ENV
echo "wine session ready: $prefix, display $DISPLAY, COM pairs ${list# }"
