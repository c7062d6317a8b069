#!/usr/bin/env bash
# Checks an installed fxkit: the files and soname links, the tool, then the consumer program
# built twice against the prefix, once through find_package(fxkit) and once through pkg-config,
# and run. Usage: run.sh PREFIX WORKDIR
set -euo pipefail
prefix=$(realpath "$1")
work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "consumer: $*" >&2; exit 1; }

pc=$(find "$prefix" -name fxkit.pc -path '*/pkgconfig/*' | head -n 1)
[ -n "$pc" ] || fail "no fxkit.pc under $prefix"
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(realpath "$(pkg-config --variable=libdir fxkit)")
version=$(pkg-config --modversion fxkit)

# The library under its soname, the development link, the headers and the tool.
soname=$(readelf -d "$libdir/libfxkit.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libfxkit.so.${version%%.*}" ] || fail "soname '$soname' for version $version"
[ "$(readlink "$libdir/libfxkit.so")" = "$soname" ] || fail "libfxkit.so does not link to $soname"
[ -f "$libdir/$(readlink "$libdir/$soname")" ] || fail "$soname is a dangling link"
for h in fxkit.h types.h host.h effects.h registry.h; do
  [ -f "$prefix/include/fxkit/$h" ] || fail "header fxkit/$h not installed"
done
"$prefix/bin/fxkit" list --names | grep -qx swirl || fail "the installed tool does not list swirl"

# Through the CMake package. Only the prefix is searched: no package registry, no build tree.
rm -rf "$work/cmake" "$work/pkgconfig"
cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/cmake" >/dev/null
ldd "$work/cmake/consumer" | grep -q "$libdir/$soname" || fail "CMake build does not load $libdir/$soname"
"$work/cmake/consumer"

# Through pkg-config.
mkdir -p "$work/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$here/consumer.c" -DFXKIT_EXPECTED_VERSION="\"$version\"" \
  $(pkg-config --cflags fxkit) $(pkg-config --libs fxkit) -Wl,-rpath,"$libdir" \
  -o "$work/pkgconfig/consumer"
ldd "$work/pkgconfig/consumer" | grep -q "$libdir/$soname" || fail "pkg-config build does not load $libdir/$soname"
"$work/pkgconfig/consumer"
