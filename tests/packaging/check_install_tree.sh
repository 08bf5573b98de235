#!/usr/bin/env bash
# Installs the build tree into a fresh prefix with `cmake --install` and checks what a Debian
# package of it would hold: both programs (and that the installed ones run), the desktop entry
# (valid, naming the installed program and icon), the icon, a man page for mbus, for each of its
# subcommands and for the console, the bash completion (sourced and asked for completions), and
# the copyright and changelog files.
#   check_install_tree.sh <cmake> <build dir> <scratch dir> <version>
set -uo pipefail
cmake=$1 build=$2 scratch=$3 version=$4

prefix=$scratch/prefix
rm -rf "$scratch"
mkdir -p "$scratch/config/mbus-console/ports"
# A port map without discovery, so nothing here lists the machine's real ports; its one port
# is a simulated meter of the installed tree, registered as COM7 for the completion check.
touch "$scratch/config/mbus-console/ports/no-discovery"
export XDG_CONFIG_HOME=$scratch/config

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

passed=0 failed=0
check() { # <what> <command...>: one check, passed when the command succeeds
    local what=$1
    shift
    if "$@" >"$scratch/check.log" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
        sed 's/^/    /' "$scratch/check.log"
    fi
}
equals() { # <expected> <actual>
    [ "$1" = "$2" ] || { printf 'expected: %s\nactual:   %s\n' "$1" "$2"; return 1; }
}
man_page() { # <name>: a compressed man page in section 1 with its title line
    local page=$prefix/share/man/man1/$1.1.gz
    gzip -t "$page" && zcat "$page" | grep -q "^\.TH \"\?${1^^}\"\? \"\?1"
}
entry_value() { # <key>: the value of a key of the desktop entry
    sed -n "s/^$1=//p" "$prefix/share/applications/mbus-console.desktop"
}
completions() { # <words...>: what the installed completion offers for the last word
    # shellcheck disable=SC1091
    PATH=$prefix/bin:$PATH bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
        _mbus; echo "${COMPREPLY[*]}"' "$prefix/share/bash-completion/completions/mbus" "$@"
}

mbus=$prefix/bin/mbus
check "bin/mbus is an executable" test -x "$mbus"
check "bin/mbus-console is an executable" test -x "$prefix/bin/mbus-console"
check "installed mbus --version is the project's version" \
    equals "mbus $version" "$("$mbus" --version)"
check "installed mbus frame prints the start-up request" \
    equals "FE FE 68 10 AA AA AA AA AA AA AA 01 03 1F 90 00 D1 16 " "$("$mbus" frame)"

check "desktop entry is valid" \
    desktop-file-validate "$prefix/share/applications/mbus-console.desktop"
check "desktop entry names the console" equals "M-Bus 测试工具" "$(entry_value Name)"
check "desktop entry starts an installed program" test -x "$prefix/bin/$(entry_value Exec)"
check "desktop entry's icon is installed" \
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$(entry_value Icon).svg"

commands=$("$mbus" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
check "mbus --help lists commands" test -n "$commands"
for page in mbus mbus-console $(printf 'mbus-%s ' $commands); do
    check "man page $page" man_page "$page"
done

check "completion offers the subcommands" \
    equals "$(echo $commands) --help --version" "$(completions mbus '')"
check "completion offers a subcommand's options" equals "--port --parity" \
    "$(completions mbus read --p)"
"$mbus" sim --com 7 >"$scratch/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do
    [ -s "$scratch/sim.log" ] && break
    sleep 0.1
done
check "completion offers the COM names after --port" equals "COM7" \
    "$(completions mbus read --port '')"
kill "$sim"
wait "$sim"

check "copyright file" grep -q "^Copyright:" "$prefix/share/doc/mbus-console/copyright"
check "changelog names this version" \
    bash -c "zcat '$prefix/share/doc/mbus-console/changelog.gz' | grep -q '($version)'"

# The installed console starts and keeps running (it waits in its message box about the
# empty port map until the time-out ends it).
QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/bin/mbus-console" >"$scratch/console.log" 2>&1
check "installed mbus-console starts and runs" equals 124 "$?"

echo "install tree: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
