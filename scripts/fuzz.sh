#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ (or $FUZZ_BUILD_DIR), checks
# that every seed of fuzz/corpus still gives its outcome, then fuzzes each
# module in turn for SECONDS seconds (default 60):
#
#   bash scripts/fuzz.sh [SECONDS] [MODULE...]
#
# A finding stops that module's run and fails the script; the input that
# caused it is kept in <build>/fuzz-findings/<module>/ and the report is
# printed. Each module's corpus grows in <build>/fuzz-work/<module>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
modules=("$@")
# Every module of modules.txt unless named.
[ ${#modules[@]} -gt 0 ] || read -r -a modules <<<"$(awk '/^[a-z]/ { print $1 }' modules.txt | xargs)"
bash scripts/install_dependencies.sh
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRIM_FUZZ=ON \
  -DORRIM_BUILD_TESTS=OFF -DORRIM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target fuzz_targets
"$build_dir/fuzz/fuzz_seed_corpus" check fuzz/corpus 2>/dev/null

passed=0
failed=0
for module in "${modules[@]}"; do
  work="$build_dir/fuzz-work/$module"
  findings="$build_dir/fuzz-findings/$module"
  log="$build_dir/fuzz-$module.log"
  mkdir -p "$work" "$findings"
  # Calls that ask for a dimension of 2^40 and more see the sanitizer's
  # allocator refuse (as intended) with a warning line each; they are left out.
  set +e
  "$build_dir/fuzz/${module}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "fuzz/corpus/$module" 2>&1 |
    grep -v 'AddressSanitizer failed to allocate' >"$log"
  status=${PIPESTATUS[0]}
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "$module: ${runs:-?} calls in ${seconds} s, no finding (corpus of $(ls "$work" | wc -l) inputs)"
    passed=$((passed + 1))
  else
    echo "$module: FINDING after ${runs:-?} calls; the input is in $findings/"
    grep -v -E '^#[0-9]+|^INFO:|^\s*$' "$log" | tail -60
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
