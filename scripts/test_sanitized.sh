#!/usr/bin/env bash
# Builds everything (host, modules, tests, Python front) with AddressSanitizer
# and UndefinedBehaviorSanitizer into build-sanitize/ (or $SANITIZE_BUILD_DIR)
# and runs the C++ and the Python suites there. The first invalid access, leak
# or undefined operation ends the test program, and so fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_dependencies.sh
build_dir="${SANITIZE_BUILD_DIR:-build-sanitize}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DORRIM_SANITIZE=ON -DORRIM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
# The host tests ask for blocks no machine can give, on purpose: the
# allocator must answer null, as the system's does, not stop the process.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 300

# The Python front under the same sanitizers. The interpreter is not built
# with them, so their runtime, and the C++ runtime whose exceptions it
# intercepts, are loaded before it. CPython leaves objects alive at exit on
# purpose, so leaks are left to the host's counters, which the Python suite
# checks after every test.
if [ -d tests/python ]; then
  LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" PYTHONPATH="$build_dir/python" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
fi
