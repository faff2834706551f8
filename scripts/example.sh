#!/usr/bin/env bash
# Builds what is not built and runs the Nile example: a local level model fitted
# to the Nile's annual flow, a printed report and a plot written to a PNG file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
build_dir="${BUILD_DIR:-build}"
PYTHONPATH="$build_dir/python" /usr/bin/python3 examples/nile_example.py --output "$build_dir/nile_level.png"
