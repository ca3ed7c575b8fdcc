#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*_fuzz.cpp) with clang, replays the saved
# reproducers of fuzz/regressions/, then runs each target for SECONDS (default 60) on a
# working copy of its seed corpus (fuzz/corpus/<target>/). Prints the executions of each
# target and exits non-zero when any target found something (crash, sanitizer report,
# leak, time-out) or a reproducer still fails.
#
#   scripts/run-fuzz.sh [SECONDS]
#
# Environment: FUZZ_BUILD (build directory, default build-fuzz), FUZZ_JOBS (build jobs,
# default 2), FUZZ_TARGETS (space-separated names to run, default all).
# Findings, logs and working corpora are kept under $FUZZ_BUILD/fuzz-run/<target>/.
set -euo pipefail

seconds="${1:-${FUZZ_SECONDS:-60}}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD:-$root/build-fuzz}"
jobs="${FUZZ_JOBS:-2}"

case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

# The engine gets its instrumentation from fuzz/CMakeLists.txt; the tests are not built.
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_FUZZ=ON -DTAVRIN_BUILD_GUI=OFF -DTAVRIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets

targets="${FUZZ_TARGETS:-}"
if [ -z "$targets" ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do
    targets+="$(basename "$source" .cpp) "
  done
fi

run="$build/fuzz-run"
mkdir -p "$run"

# The targets write their temporary files under TMPDIR: a memory file system when there
# is one (much faster than a disk that discards blocks on every delete).
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch="$(mktemp -d /dev/shm/tavrin-fuzz.XXXXXX)"
else
  scratch="$(mktemp -d "$run/tmp.XXXXXX")"
fi
trap 'rm -rf "$scratch"' EXIT

failed=()
summary=()

# Replays the saved reproducers of one target; false when any of them still fails.
replay_regressions() {
  local name="$1" log="$2"
  local inputs=()
  for input in "$root"/fuzz/regressions/"$name"-*; do
    [ -f "$input" ] && inputs+=("$input")
  done
  [ ${#inputs[@]} -eq 0 ] && return 0
  TMPDIR="$scratch" "$build/fuzz/$name" "${inputs[@]}" >"$log" 2>&1
}

for name in $targets; do
  binary="$build/fuzz/$name"
  dir="$run/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  if [ -d "$root/fuzz/corpus/$name" ]; then
    cp "$root/fuzz/corpus/$name"/* "$dir/corpus/" 2>/dev/null || true
  fi

  status=""
  if ! replay_regressions "$name" "$dir/regressions.log"; then
    status="REGRESSION (see $dir/regressions.log) "
  fi

  echo "== $name: fuzzing for ${seconds}s" >&2
  rc=0
  TMPDIR="$scratch" "$binary" -max_total_time="$seconds" -timeout=25 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" \
    >"$dir/fuzz.log" 2>&1 || rc=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" | tail -n 1)"
  if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$dir/artifacts")" ]; then
    status+="FINDING (exit $rc; see $dir/fuzz.log and $dir/artifacts/)"
  fi
  if [ -n "$status" ]; then
    failed+=("$name")
  else
    status="ok"
  fi
  summary+=("$(printf '%-26s %12s executions  %s' "$name" "${execs:-?}" "$status")")
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
