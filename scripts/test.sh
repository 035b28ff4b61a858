#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs every test (as many at once
# as there are cores) and names the slowest ten, checks what installing and packaging deliver, then
# builds and runs the sanitizer tests. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
echo "== default build"
cmake --preset default
cmake --build --preset default -j "$jobs"
echo "== tests"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --preset default -j "$jobs" 2>&1 | tee "$log" || status=$?
echo "== the slowest ten tests"
grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" |
  sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/' | sort -rn |
  awk 'NR <= 10 { printf "  %8.2f s  %s\n", $1, $2 }' # reads every line: an early exit would kill sort
[[ $status -eq 0 ]] || exit "$status"
echo "== install and package"
bash scripts/install-check.sh

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan -j "$jobs"

if [[ -x scripts/fuzz.sh ]]; then
  echo "== fuzzing"
  bash scripts/fuzz.sh
fi
echo "== all tests passed"
