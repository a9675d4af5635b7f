#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: a plain build, then
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded suites under
# ThreadSanitizer, then a minute of each fuzz target (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== build and test =="
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (threaded suites) =="
bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs"

echo "== fuzzing (clang, libFuzzer + ASan/UBSan), a minute per target =="
FUZZ_REPEATABLE=1 bash scripts/fuzz.sh 60
