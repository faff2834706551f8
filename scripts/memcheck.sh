#!/usr/bin/env bash
# Runs the programs that test the host, the numerical core and the three
# gateways under valgrind's memcheck, built without sanitizers into build-memcheck/ (or
# $MEMCHECK_BUILD_DIR): invalid reads and writes, jumps on uninitialised
# values, and leaks. Under valgrind the kernels take their AVX2 or portable
# path, valgrind having no AVX-512. A test program's own operator new and
# posix_memalign (the host tests make allocations fail through them) stay in
# place, calling the system's, which valgrind watches. Children forked by a
# test report their outcome to it, not to valgrind: the memory of the threads
# that did not come along is lost in them by the nature of fork.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_dependencies.sh
build_dir="${MEMCHECK_BUILD_DIR:-build-memcheck}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRIM_BUILD_BENCHMARKS=OFF >/dev/null
programs=(host/host_tests core/core_tests)
for module in $(awk '/^[a-z]/ { print $1 }' modules.txt); do
  programs+=("$module/${module}_tests")
done
targets=()
for program in "${programs[@]}"; do
  targets+=("$(basename "$program")")
done
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}"

passed=0
failed=0
for program in "${programs[@]}"; do
  name=$(basename "$program")
  log="$build_dir/memcheck-$name.log"
  status=0
  valgrind --tool=memcheck --soname-synonyms=somalloc=nouserintercepts --child-silent-after-fork=yes --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --error-exitcode=99 \
    --log-file="$log" "$build_dir/tests/$program" --gtest_brief=1 >"$build_dir/memcheck-$name.out" 2>&1 || status=$?
  tests=$(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$build_dir/memcheck-$name.out" | head -1)
  allocations=$(grep -Eo 'total heap usage: .*' "$log" | head -1)
  errors=$(grep -Eo 'ERROR SUMMARY: [0-9]+ errors from [0-9]+ contexts' "$log" | head -1)
  echo "$name: $tests; $errors; $allocations"
  grep -E 'All heap blocks were freed|definitely lost:|indirectly lost:|possibly lost:|still reachable:' "$log" |
    sed 's/^==[0-9]*== */    /' || true
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  else
    echo "$name: memcheck or the tests failed (exit $status); see $log"
    failed=$((failed + 1))
  fi
done
echo "memcheck: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
