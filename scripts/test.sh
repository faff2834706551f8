#!/usr/bin/env bash
# Builds everything and runs every test: the C++ suite under ctest, the
# Python suite under pytest, then both installs (the CMake package and the
# wheel) put to use from a temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build_dir="${BUILD_DIR:-build}"
# A call that never returns is a fault like any other: it fails its test.
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 300
if [ -d tests/python ]; then
  PYTHONPATH="$build_dir/python" /usr/bin/python3 -m pytest -q tests/python
fi
bash tests/install/test_installs.sh "$build_dir"
