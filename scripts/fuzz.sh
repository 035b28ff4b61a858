#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each for a bounded time (FUZZ_SECONDS, default 20),
# several at once. A crash or sanitizer report fails the run. Prints executions per second per target.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang++ >/dev/null; then
  echo "fuzz: skipped, clang++ is not installed"
  exit 0
fi
seconds=${FUZZ_SECONDS:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

out=build/fuzz/runs
rm -rf "$out"
mkdir -p "$out"
mapfile -t targets < build/fuzz/fuzz_targets.txt

run_one() {
  local t=$1 seconds=$2 out=$3
  local corpus="$out/$t.corpus"
  build/fuzz/fuzz/"${t}_seeds" "$corpus" >/dev/null
  if build/fuzz/fuzz/"${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
      -artifact_prefix="$out/$t-" "$corpus" >"$out/$t.log" 2>&1; then
    local execs
    execs=$(grep -m1 'stat::number_of_executed_units' "$out/$t.log" | awk '{print $2}')
    printf 'fuzz: %-28s ok  %10s runs  %8s exec/s\n' "$t" "$execs" "$((execs / seconds))"
  else
    printf 'fuzz: %-28s FAILED, see %s\n' "$t" "$out/$t.log"
    tail -n 40 "$out/$t.log"
    return 1
  fi
}
export -f run_one

printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$out"
echo "fuzz: ${#targets[@]} targets passed"
