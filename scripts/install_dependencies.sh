#!/usr/bin/env bash
# Installs the Debian packages the build, the tests (valgrind included), the
# fuzz targets, the examples and the Python wheel need, and only those that
# are missing.
# Packages named as arguments are installed as well.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev python3-dev python3-numpy python3-pybind11 pybind11-dev
          python3-scipy python3-statsmodels python3-matplotlib python3-pytest python3-setuptools python3-wheel python3-build
          python3-venv python3-dask python3-distributed clang libclang-rt-14-dev valgrind "$@")
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_prefix=""
  [ "$(id -u)" -eq 0 ] || sudo_prefix="sudo"
  $sudo_prefix apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_prefix apt-get install -y -qq "${missing[@]}" >/dev/null
fi
