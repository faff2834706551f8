#!/usr/bin/env bash
# Builds what is not built and runs the example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
"${BUILD_DIR:-build}/examples/local_level_example"
