#!/usr/bin/env bash
# Installs as users do, into a temporary directory, and uses what they get:
#
# - C++: `cmake --install` into a prefix that is then moved elsewhere. Every
#   module there exports only orrimGateway and finds the host library in the
#   moved prefix; the C++ example, configured on its own against that prefix
#   with find_package, prints what the example of the build tree prints.
# - Python: the wheel, installed into a new virtual environment. Its package
#   holds every module the package knows, and no path of this machine's build;
#   the Python suite runs against it from outside the source tree, taking only
#   the test probe module from the build tree.
#
#   bash tests/install/test_installs.sh <build dir>
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Nothing may be found through the caller's settings instead of the install.
unset LD_LIBRARY_PATH PYTHONPATH

# finds_host <dir> <file>...: each file loads the host library of <dir>.
finds_host() {
  local dir=$1 file found
  shift
  for file in "$@"; do
    found=$(ldd "$file" | grep -F 'liborrimhost.so =>' || true)
    if [ "$(realpath -m "$(awk '{print $3}' <<<"$found")")" != "$(realpath "$dir/liborrimhost.so")" ]; then
      echo "$file does not load the host library of $dir: ${found:-not needed}"
      return 1
    fi
  done
}

# runs <log> <command>...: the command's output is shown only if it fails.
runs() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "failed: $*"; return 1; }
}

module_names=$(PYTHONPATH="$build_dir/python" /usr/bin/python3 -c \
  'import statespace._modules as m; print(" ".join(sorted(m.MODULE_NAMES)))')

echo "C++: install, move the prefix, build the example against it"
runs "$work/install.log" cmake --install "$build_dir" --prefix "$work/staged"
mv "$work/staged" "$work/prefix"
host_library=$(find "$work/prefix" -name liborrimhost.so)
module_dir=$(dirname "$host_library")/orrim-statespace
installed_modules=$(cd "$module_dir" && ls *.so | sed 's/\.so$//' | sort | xargs)
[ "$installed_modules" = "$module_names" ] || { echo "installed modules: $installed_modules; known: $module_names"; exit 1; }
bash "$source_dir/tests/host/check_exports.sh" "$module_dir"/*.so
finds_host "$(dirname "$host_library")" "$module_dir"/*.so
runs "$work/example.log" cmake -S "$source_dir/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$work/prefix"
runs "$work/example.log" cmake --build "$work/example"
finds_host "$(dirname "$host_library")" "$work/example/local_level_example"
diff <("$build_dir/examples/local_level_example") <("$work/example/local_level_example")

echo "Python: build the wheel, install it into a virtual environment, run the suite against it"
runs "$work/wheel.log" /usr/bin/python3 -m build --wheel --no-isolation --outdir "$work/dist" "$source_dir"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
runs "$work/pip.log" "$work/venv/bin/pip" install --no-index "$work"/dist/*.whl
package=$("$work/venv/bin/python" -c 'import os, statespace; print(os.path.dirname(statespace.__file__))')
[[ "$package" == "$work/venv/"* ]] || { echo "statespace is imported from $package, not from the environment"; exit 1; }
"$work/venv/bin/python" -c 'import statespace._modules as m; assert m.available_modules() == m.MODULE_NAMES, m.MODULE_PATHS'
finds_host "$package" "$package"/_statespace*.so "$package"/modules/*.so
if grep -r -l -F -e "$source_dir" -e "$build_dir" "$package"; then
  echo "the installed package holds paths of the build machine"
  exit 1
fi
probe="$build_dir/python/testing/orrimprobe.so"
[ -f "$probe" ] || { echo "no probe module at $probe"; exit 1; }
(cd "$work" && ORRIM_PROBE_MODULE="$probe" "$work/venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$source_dir/tests/python")
