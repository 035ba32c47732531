#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, two at a time.
#   fuzz/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
# A crash input is copied into the target's crashes/ folder (which ordinary
# builds replay as a test) and the run fails.
set -uo pipefail
build=${1:?build dir}
seconds=${2:-60}
list="$build/fuzzers.txt"
[ -f "$list" ] || { echo "no fuzz targets in $build"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_one() {
  local name=$1 bin=$2 corpus=$3 dict=$4 crashes=$5
  local dir="$work/$name"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  [ -d "$corpus" ] && cp -r "$corpus"/. "$dir/corpus/" 2>/dev/null
  local args=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
              -artifact_prefix="$dir/artifacts/")
  [ -n "$dict" ] && [ -f "$dict" ] && args+=(-dict="$dict")
  if "$bin" "${args[@]}" "$dir/corpus" >"$dir/log" 2>&1; then
    echo "fuzz $name: ok ($(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$dir/log" | awk '{print $2}') runs)"
  else
    echo "fuzz $name: FAILED"; tail -40 "$dir/log"
    mkdir -p "$crashes"; cp "$dir/artifacts"/* "$crashes/" 2>/dev/null
    return 1
  fi
}

status=0
pids=()
while IFS='|' read -r name bin corpus dict crashes; do
  [ -n "$name" ] || continue
  run_one "$name" "$bin" "$corpus" "$dict" "$crashes" &
  pids+=($!)
  if ((${#pids[@]} >= 2)); then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done <"$list"
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
