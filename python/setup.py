"""Builds iffpcx._iffpcx from the checkout's C++ sources: the line library,
the whole-image layer and the validator are compiled into the extension
itself, so nothing needs building or installing first:

    python3 -m pip install --no-build-isolation ./python

The sources are found beside this folder (../src, ../include), so the package
builds from a checkout, not from a lone copy of python/.
"""

import glob
import os
import re
import sys

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

if not os.path.isfile(os.path.join(ROOT, "include", "iffpcx_image.h")):
    sys.exit(f"iffpcx: the library's sources are not beside {HERE}: build from a checkout of the project")


def sources(*patterns):
    """Files of the checkout, by paths relative to this folder, as setuptools wants them."""
    found = []
    for pattern in patterns:
        found += sorted(os.path.relpath(path, HERE) for path in glob.glob(os.path.join(ROOT, pattern)))
    return found


def version():
    """The library's version, from the public header, where the build reads it too."""
    with open(os.path.join(ROOT, "include", "iffpcx.h"), encoding="utf-8") as header:
        return re.search(r'#define IFFPCX_VERSION_STRING "([0-9.]+)"', header.read()).group(1)


# What the CMake build compiles into libiffpcx and libiffpcx_image (POSIX platform files).
LIBRARY = sources(
    "src/driver/*.cpp",
    "src/pcx/*.cpp",
    "src/pixels/*.cpp",
    "src/platform/heap.cpp",
    "src/platform/posix_*.cpp",
    "src/platform/cpu_features.cpp",
    "src/image/base/*.cpp",
    "src/image/read/*.cpp",
    "src/image/write/*.cpp",
    "src/image/api/*.cpp",
    "src/image/check/*.cpp",
)

extension = Extension(
    "iffpcx._iffpcx",
    sources=sources("python/src/*.cpp") + LIBRARY,
    include_dirs=[os.path.join("..", d) for d in ("include", "src", "src/image", "src/platform")],
    language="c++",
    extra_compile_args=["-std=c++17", "-O3", "-g0", "-fvisibility=hidden", "-fvisibility-inlines-hidden", "-pthread"],
    extra_link_args=["-pthread", "-Wl,--version-script=" + os.path.join(HERE, "src", "exports.map")],
)

setup(version=version(), packages=["iffpcx"], ext_modules=[extension])
