"""Builds the extension module QxDBAccess from the core's sources and the
Python binding, and installs its type stubs beside it.

The core's source list is read from src/CMakeLists.txt, so that the CMake
build and this one compile the same files.
"""

import os
import re
import shutil

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join("src")


def core_sources():
    with open(os.path.join(HERE, "src", "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"add_library\(qxdbcore STATIC(.*?)\)", text, re.S).group(1)
    return [os.path.join(SRC, s) for s in body.split()]


def module_sources():
    with open(os.path.join(HERE, "src", "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"Python3_add_library\(QxDBAccess MODULE WITH_SOABI(.*?)\)", text, re.S).group(1)
    return [os.path.join(SRC, s) for s in body.split()]


class BuildWithStubs(build_ext):
    """Also places QxDBAccess.pyi beside the module, and the same stubs as
    the stub package QxDBAccess-stubs (with py.typed) that type checkers
    look for."""

    def run(self):
        super().run()
        if self.inplace:
            return
        stub = os.path.join(HERE, "python", "QxDBAccess.pyi")
        self.mkpath(self.build_lib)
        shutil.copyfile(stub, os.path.join(self.build_lib, "QxDBAccess.pyi"))
        pkg = os.path.join(self.build_lib, "QxDBAccess-stubs")
        self.mkpath(pkg)
        shutil.copyfile(stub, os.path.join(pkg, "__init__.pyi"))
        shutil.copyfile(os.path.join(HERE, "python", "py.typed"), os.path.join(pkg, "py.typed"))


setup(
    ext_modules=[
        Extension(
            "QxDBAccess",
            sources=module_sources() + core_sources(),
            include_dirs=[os.path.join(SRC, d) for d in ("", "nonwin", "QxDBAccess")],
            extra_compile_args=["-std=c++17", "-fvisibility=hidden"],
            extra_link_args=["-Wl,--exclude-libs,ALL", "-pthread"],
            language="c++",
        )
    ],
    cmdclass={"build_ext": BuildWithStubs},
)
