#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the libFuzzer targets with clang
# (build-fuzz) and runs each for SECONDS (default 60): file (sound files into
# the sound-file object and the load driver), codec (the exported sample codec
# library) and message (random messages to buffers sharing names). Corpora grow
# in build-fuzz/fuzz/corpus; findings land in build-fuzz/fuzz/findings and fail
# the run. With FUZZ_REPEATABLE=1 (as CI runs it) each target starts from a fixed
# seed and stops after a fixed number of inputs (or 2 x SECONDS), so that a run
# tries the same inputs on every machine; without it, runs explore afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(file codec message)

CC=clang CXX=clang++ bash scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVO_FUZZ=ON

out=$PWD/build-fuzz/fuzz
mkdir -p "$out/findings"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0
status=0
for t in "${targets[@]}"; do
  corpus=$out/corpus/$t
  mkdir -p "$corpus"
  seeds=()
  [ -d "$out/seeds/$t" ] && seeds+=("$out/seeds/$t")
  [ -d "fuzz/regress/$t" ] && seeds+=("$PWD/fuzz/regress/$t")
  # Per input: a time limit (a hang is a finding) and a memory limit above the
  # host's own ceiling for the sample memory of these runs.
  case $t in
    file) opts=(-timeout=25 -max_len=65536 -rss_limit_mb=3072) ;;
    message) opts=(-timeout=60 -max_len=4096 -rss_limit_mb=4096) ;;
    *) opts=(-timeout=10 -max_len=8192) ;;
  esac
  limit=(-max_total_time="$seconds")
  if [ "${FUZZ_REPEATABLE:-0}" = 1 ]; then
    case $t in
      file) runs=10000 ;;
      message) runs=30000 ;;
      *) runs=500000 ;;
    esac
    limit=(-seed=1 -runs=$runs -max_total_time=$((2 * seconds)))
  fi
  echo "== fuzz $t: ${limit[*]} =="
  log=$out/$t.log
  if "$out/fuzz_$t" "${limit[@]}" -print_final_stats=1 -artifact_prefix="$out/findings/$t-" \
      "${opts[@]}" "$corpus" "${seeds[@]}" > "$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|files:|messages:|Done )' "$log" || true
  else
    status=1
    grep -v -E '^#[0-9]+' "$log" | tail -40
    echo "fuzz $t: finding kept in $out/findings (full log $log)"
  fi
done
exit $status
