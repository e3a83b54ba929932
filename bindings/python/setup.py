"""Builds the native module _lkword with the checkout's CMake build.

The package lives in bindings/python of an LKWord checkout and builds the
library from it: LKWORD_SOURCE_DIR names another checkout. A C++20 compiler,
CMake, zlib and pybind11 (Debian: g++ cmake zlib1g-dev pybind11-dev
python3-dev) are needed; ccache is used when it is installed.
"""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        source = pathlib.Path(os.environ.get("LKWORD_SOURCE_DIR", HERE.parents[1])).resolve()
        if not (source / "lkword" / "registry" / "LKWReaders.h").is_file():
            raise RuntimeError("no LKWord checkout at %s: set LKWORD_SOURCE_DIR" % source)
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        args = ["-DCMAKE_BUILD_TYPE=Release", "-DLKWORD_BUILD_PYTHON=ON", "-DLKWORD_BUILD_TESTS=OFF",
                "-DLKWORD_BUILD_TOOL=OFF", "-DPython_EXECUTABLE=" + sys.executable]
        if shutil.which("ccache"):
            args.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        subprocess.check_call(["cmake", "-S", str(source), "-B", str(build), *args])
        jobs = str(os.cpu_count() or 1)
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_lkword", "-j", jobs])
        built = next((build / "python" / "lkword").glob("_lkword*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("lkword._lkword", sources=[])], cmdclass={"build_ext": CMakeBuild})
