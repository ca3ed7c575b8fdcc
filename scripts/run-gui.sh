#!/usr/bin/env bash
# make run: the simulated target on a pseudo-terminal and the program connected to it.
# The program starts in a scratch folder holding sample.urt and sample.dsf (its file dialogs
# open there) with TAVRIN_PORT naming the target's pseudo-terminal, so Connect (Ctrl+N)
# reaches the target at once. The target is stopped when the program exits.
# Usage: run-gui.sh [BUILD_DIR [TARGET OPTIONS...]], e.g. run-gui.sh build --baud 115200
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
shift || true
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build/sim/tavrin-sample-files" "$work" >/dev/null
"$build/sim/tavrin-target-sim" --pty "$@" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/sim.out")
if [ -z "$port" ]; then
  echo "the simulated target did not start" >&2
  cat "$work/sim.err" >&2
  exit 1
fi
rm -f "$work/sim.out"

echo "Simulated target on $port; sample.urt and sample.dsf are in $work."
echo "Connect with Ctrl+N, upload with F3, download with F4."
status=0
(cd "$work" && TAVRIN_PORT="$port" "$build/src/app/tavrin") || status=$?
# The program's normal end is exit status 1 (0 means it could not start).
[ "$status" -eq 1 ] && exit 0
exit "$status"
