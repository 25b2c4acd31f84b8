#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each of them, one after
# the other, for TIME_PER_TARGET seconds on its committed seeds and
# regression inputs.
#
# Usage: scripts/fuzz.sh [TIME_PER_TARGET] [TARGET...]
#   TIME_PER_TARGET  seconds per target (default 60)
#   TARGET           inflate file_table project open_payload font_name
#                    pe_version manifest setup (default: all)
#
# New inputs that grow coverage go to build/fuzz/corpus/<target>; crashes,
# leaks and timeouts to build/fuzz/artifacts/<target>/. The exit status is
# non-zero when any target found a fault. SFX_FUZZ_SEEDS=1 rewrites the
# committed seeds with fuzz_make_seeds first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

time_per_target=${1:-60}
shift || true
all_targets=(inflate file_table project open_payload font_name pe_version manifest setup)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

scripts/deps.sh fuzz
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DSFX_BUILD_FUZZ=ON -DSFX_SANITIZE=ON \
  -DSFX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
names=()
for t in "${targets[@]}"; do names+=("fuzz_$t"); done
nice -n 19 cmake --build "$build" -j "$(nproc)" --target "${names[@]}" fuzz_make_seeds

if [ "${SFX_FUZZ_SEEDS:-0}" = 1 ]; then
  "$build/fuzz/fuzz_make_seeds" fuzz/corpus "$root"
fi

# Inputs per target: the longest a mutation may make.
max_len() {
  case "$1" in
    inflate|setup) echo 32768 ;;
    open_payload|pe_version) echo 65536 ;;
    *) echo 16384 ;;
  esac
}

# The harnesses make their own scratch folders; keep them off the work tree.
export TMPDIR=${TMPDIR:-/tmp}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=32}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$corpus" "$artifacts" "fuzz/regressions/$t"
  log="$build/fuzz-$t.log"
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  echo "fuzz: $t for ${time_per_target}s (log $log)"
  status=0
  nice -n 19 "$build/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$time_per_target" -timeout=10 \
    -rss_limit_mb=256 -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$t" "fuzz/regressions/$t" \
    >"$log" 2>&1 || status=$?
  # The last status line: executions, coverage (cov) and features (ft).
  summary=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  echo "fuzz: $t: ${execs:-?} runs; ${summary:-no status line}"
  if [ "$status" != 0 ]; then
    echo "fuzz: $t FAILED (status $status); see $log and $artifacts/" >&2
    grep -E 'ERROR|FUZZ_CHECK|SUMMARY|runtime error' "$log" | head -5 >&2 || true
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: faults found in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran without a fault"
