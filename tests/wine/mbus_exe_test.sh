#!/usr/bin/env bash
# `mbus.exe` under Wine against the Linux build: frame and decode print byte for byte what the
# Linux `mbus` prints (arguments and standard input with Chinese text in UTF-8 included), `read`
# reads and decodes a native `mbus sim` through a COM port linked to its pseudo-terminal, and
# `ports` lists a port registered the way a driver registers a plugged-in converter.
#
#   mbus_exe_test.sh <session folder> <native mbus> <mbus.exe> <register_port.exe>
set -euo pipefail
session=${1:?session folder}
native=${2:?native mbus}
exe=${3:?mbus.exe}
register_port=${4:?register_port.exe}
# shellcheck source=/dev/null
source "$session/env"

failures=0
passes=0
check() { # <what> <command...>: the command's status decides
    local what=$1
    shift
    if "$@"; then
        passes=$((passes + 1))
    else
        echo "FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com61"
    wine "$register_port" remove '\Device\MbusTest0' >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# The same output, byte for byte, from both programs.
same_output() { # <args...>
    "$native" "$@" >"$work/linux.out" 2>&1 </dev/null || true
    wine "$exe" "$@" >"$work/windows.out" 2>&1 </dev/null || true
    cmp -s "$work/linux.out" "$work/windows.out" || {
        diff "$work/linux.out" "$work/windows.out" | head -5 >&2
        return 1
    }
}
same_output_of_input() { # <input file> <args...>
    local input=$1
    shift
    "$native" "$@" <"$input" >"$work/linux.out" 2>&1 || true
    wine "$exe" "$@" <"$input" >"$work/windows.out" 2>&1 || true
    cmp -s "$work/linux.out" "$work/windows.out"
}

check "frame" same_output frame
check "frame with address, type and identifier" \
    same_output frame --addr "12 34 56 78 90 12 34" --type 6 --di "90 1F"
check "frame with a type by its Chinese name" same_output frame --type 燃气表
check "frame --help" same_output frame --help
check "decode a reply" same_output decode \
    "FE FE 68 10 01 00 00 00 00 00 00 81 16 1F 90 00 34 12 00 00 2C 00 10 00 00 2C 23 06 10 09 12 26 20 00 00 07 16"
check "decode --json, no reply" same_output decode --json "68 10 01"
printf 'FE 68 10 01 00 00 00 00 00 00 81 16 1F 90 00 34 12 00 00 2C 00 10 00 00 2C 23 06 10 09 12 26 20 00 00 07 16\r\nzz\n' >"$work/chunks"
check "decode from standard input" same_output_of_input "$work/chunks" decode
check "a bad option" same_output frame --no-such-option

# `mbus read` against `mbus sim`: the sim registers its pseudo-terminal in a ports folder of its
# own; Wine's COM61 is a link to the same pseudo-terminal.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/mbus-console/ports"
touch "$XDG_CONFIG_HOME/mbus-console/ports/no-discovery"
"$native" sim --meter 6:00000000001234 >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
done
device=$(awk '{ print $2 }' "$work/sim.out")
ln -sfn "$device" "$WINEPREFIX/dosdevices/com61"
read_meter() {
    wine "$exe" read --port COM61 --type 6 --addr 00000000001234 --count 2 --interval 200 \
        >"$work/read.out" 2>"$work/read.err" </dev/null || {
        cat "$work/read.err" >&2
        return 1
    }
    [ "$(grep -c '^TX FE FE 68 30 34 12 00 00 00 00 00 01 03 1F 90 ' "$work/read.out")" -eq 2 ] &&
        [ "$(grep -c '^RX FE FE 68 30 34 12 ' "$work/read.out")" -eq 2 ] &&
        [ "$(grep -c '^当前累积流量:' "$work/read.out")" -eq 2 ] || {
        cat "$work/read.out" >&2
        return 1
    }
}
check "read a simulated gas meter through COM61" read_meter
read_missing() {
    ! wine "$exe" read --port COM62 >"$work/read.out" 2>&1 </dev/null
}
check "read through a port that does not exist fails" read_missing

# `mbus ports`: the registry lists what drivers registered; Wine registers no link of its own.
list_ports() {
    wine "$register_port" add '\Device\MbusTest0' COM61 || return 1
    wine "$exe" ports >"$work/ports.out" 2>&1 </dev/null
    grep -qx 'COM61   \\Device\\MbusTest0  discovered' "$work/ports.out" || {
        cat "$work/ports.out" >&2
        return 1
    }
}
check "ports lists a registered port" list_ports

echo "mbus.exe under Wine: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
