"""Builds fxkit's Python module against an installed fxkit library, found with pkg-config (for a
prefix pkg-config does not search, set PKG_CONFIG_PATH=PREFIX/lib/pkgconfig). Needs only
Debian's packages: python3-dev, pybind11-dev, python3-numpy, python3-setuptools, pkg-config.

    pip install --no-build-isolation ./python
"""
import os
import subprocess
import sys
from glob import glob

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def pkg_config(*args):
    try:
        done = subprocess.run(["pkg-config", *args, "fxkit"], check=True, capture_output=True,
                              text=True)
    except FileNotFoundError:
        sys.exit("fxkit: pkg-config is missing (Debian package pkg-config)")
    except subprocess.CalledProcessError as e:
        sys.exit("fxkit: pkg-config does not find the fxkit library: install it (make install "
                 "PREFIX=DIR) and set PKG_CONFIG_PATH=DIR/lib/pkgconfig\n" + e.stderr)
    return done.stdout.strip()


def pybind11_include():
    """pybind11's headers: PYBIND11_INCLUDE, else Debian's pybind11-dev in /usr/include."""
    path = os.environ.get("PYBIND11_INCLUDE", "/usr/include")
    if not os.path.exists(os.path.join(path, "pybind11", "pybind11.h")):
        sys.exit("fxkit: pybind11 headers not found in %s (Debian package pybind11-dev, or set "
                 "PYBIND11_INCLUDE)" % path)
    return path


class BuildExt(build_ext):
    """Compiles on every build: the module records the library's directory for loading, and
    an object left from a build against another library must not be reused."""

    def finalize_options(self):
        super().finalize_options()
        self.force = True


libdir = os.path.realpath(pkg_config("--variable=libdir"))
includedir = os.path.realpath(pkg_config("--variable=includedir"))

core = Extension(
    "fxkit._core",
    sources=sorted(os.path.relpath(p, HERE) for p in glob(os.path.join(HERE, "ext", "*.cpp"))),
    depends=sorted(glob(os.path.join(HERE, "ext", "*.h"))),
    include_dirs=[includedir, pybind11_include()],
    library_dirs=[libdir],
    libraries=["fxkit"],
    runtime_library_dirs=[libdir],
    extra_compile_args=["-std=c++20", "-Wall", "-Wextra", "-Werror", "-ffp-contract=off",
                        "-fno-fast-math", "-fvisibility=hidden", "-g0"],
    language="c++",
)

setup(
    version=pkg_config("--modversion"),
    packages=["fxkit"],
    package_dir={"": "src"},
    ext_modules=[core],
    cmdclass={"build_ext": BuildExt},
)
