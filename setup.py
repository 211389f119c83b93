# SPDX-License-Identifier: MIT
"""Builds the extension module with the project's own CMake build (option IMAGENOISE_PYTHON),
so the module is made from exactly the sources the commands are."""
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        source = pathlib.Path(__file__).resolve().parent
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(source), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DIMAGENOISE_PYTHON=ON",
            "-DIMAGENOISE_BUILD_TESTS=OFF",
            "-DIMAGENOISE_BUILD_BENCHMARKS=OFF",
            "-DIMAGENOISE_INSTALL=OFF",
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # Debian's pybind11-dev puts its CMake files where CMake looks by itself.
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "imagenoise_python",
                        "-j", jobs], check=True)
        built = next((build / "python").glob("imagenoise*" + os.path.splitext(
            self.get_ext_filename(ext.name))[1]))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("imagenoise", sources=[])], cmdclass={"build_ext": CMakeBuild})
