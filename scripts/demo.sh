#!/usr/bin/env bash
# Headless demonstration: the simulated target on a pseudo-terminal, an upload and a
# download through tavrin-cli, and what the program prints.
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/sim/tavrin-sample-files" "$work" >/dev/null
"$build/sim/tavrin-target-sim" --pty >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/sim.out")
[ -n "$port" ] || { echo "the simulated target did not start" >&2; cat "$work/sim.err" >&2; exit 1; }

echo "== simulated target on $port"
echo "== tavrin-cli upload --port $port sample.urt"
"$build/src/cli/tavrin-cli" upload --port "$port" "$work/sample.urt"
echo
echo "== tavrin-cli script show sample.dsf"
"$build/src/cli/tavrin-cli" script show "$work/sample.dsf"
echo "== tavrin-cli download --port $port --output sample.dbf sample.dsf"
"$build/src/cli/tavrin-cli" download --port "$port" --output "$work/sample.dbf" "$work/sample.dsf"
echo
echo "== sample.dbf: $(stat -c %s "$work/sample.dbf") bytes"
od -A d -t x1 "$work/sample.dbf" | head -n 2
