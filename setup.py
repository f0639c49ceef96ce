"""Builds the extension norvalex._core with the project's own CMake build, so that it is
compiled exactly as the program's libraries are (flags, -ffp-contract=off), and installs it with
the package's Python side. The version is the one of `project()` in CMakeLists.txt."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(norvalex VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DNORVALEX_BUILD_TESTS=OFF", "-DNORVALEX_BUILD_PYTHON=ON",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "norvalex_python",
                        "--parallel", str(os.cpu_count() or 2)], check=True)
        built = next((build / "python" / "norvalex").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(version=project_version(), packages=["norvalex"], package_dir={"": "src/python"},
      ext_modules=[Extension("norvalex._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
