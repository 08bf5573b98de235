#!/usr/bin/env bash
# Runs a program of the Windows build under Wine in the session that wine_session.sh started
# (CTest's emulator for the cross build): run_under_wine.sh <session folder> <program> [args...]
set -euo pipefail
session=${1:?session folder}
shift
if [ ! -f "$session/env" ]; then
    echo "run_under_wine: no Wine session in $session (run the wine_session_start test)" >&2
    exit 1
fi
# shellcheck source=/dev/null
source "$session/env"
exec wine "$@"
