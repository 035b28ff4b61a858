#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs every test, checks what
# installing and packaging deliver, then builds and runs the sanitizer tests. Exits non-zero on the
# first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
echo "== default build"
cmake --preset default
cmake --build --preset default -j "$jobs"
echo "== tests"
ctest --preset default
echo "== install and package"
bash scripts/install-check.sh

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan

if [[ -x scripts/fuzz.sh ]]; then
  echo "== fuzzing"
  bash scripts/fuzz.sh
fi
echo "== all tests passed"
