#!/usr/bin/env bash
# Builds what is not built, runs the benchmarks of the kernels and of whole
# module calls, then times the Python front against statsmodels side by side,
# and the many-series fit against statsmodels and on each engine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
build_dir="${BUILD_DIR:-build}"
"$build_dir/bench/kernel_benchmarks" --benchmark_min_time=0.1
"$build_dir/bench/module_benchmarks" --benchmark_min_time=0.2
/usr/bin/python3 bench/compare_with_statsmodels.py --build-dir "$build_dir"
/usr/bin/python3 bench/fit_vs_statsmodels.py --build-dir "$build_dir"
/usr/bin/python3 bench/smoother_first_call.py --build-dir "$build_dir"
/usr/bin/python3 bench/many_series_vs_statsmodels.py --build-dir "$build_dir"
/usr/bin/python3 bench/many_series_engines.py --build-dir "$build_dir"
