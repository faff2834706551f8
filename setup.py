"""Builds the statespace wheel: CMake builds the extension, the reference host
and the modules, and installs them into the package (see python/CMakeLists.txt),
each finding the host through a run path relative to the package.

The CMake build tree is build-wheel/cmake, kept from one build to the next.
"""

import os
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE_DIR = os.path.dirname(os.path.abspath(__file__))
BUILD_BASE = os.path.join(SOURCE_DIR, "build-wheel")


def project_version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as cmake_lists:
        return re.search(r"project\(orrim_statespace VERSION ([0-9.]+)", cmake_lists.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake_dir = os.path.join(BUILD_BASE, "cmake")
        # The extension is built for the interpreter that runs this build; a
        # virtual environment's interpreter is a link to it, which may vanish
        # with the environment while the CMake tree is kept.
        python = os.path.realpath(sys.executable)
        subprocess.run(["cmake", "-S", SOURCE_DIR, "-B", cmake_dir, "-DCMAKE_BUILD_TYPE=Release",
                        "-DORRIM_BUILD_TESTS=OFF", "-DORRIM_BUILD_BENCHMARKS=OFF",
                        f"-DPython3_EXECUTABLE={python}"], check=True)
        subprocess.run(["cmake", "--build", cmake_dir, "--target", "statespace_python",
                        f"-j{self.parallel or os.cpu_count() or 1}"], check=True)
        subprocess.run(["cmake", "--install", cmake_dir, "--component", "python",
                        "--prefix", os.path.abspath(self.build_lib)], check=True)


setup(
    version=project_version(),
    packages=["statespace"],
    package_dir={"": "python"},
    ext_modules=[Extension("statespace._statespace", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD_BASE}},
    zip_safe=False,
)
