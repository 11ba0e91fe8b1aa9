#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it as a host developer would: every public header
# compiles alone, one host builds with find_package(le CONFIG), one with pkg-config, and both run
# on a baked bundle without LD_LIBRARY_PATH.
#   install_test.sh BUILD_DIR BUNDLE
set -euo pipefail
build=$1
bundle=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/le-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset LD_LIBRARY_PATH

fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# The library by its versioned name, found by SONAME, finding ONNX Runtime beside itself.
lib=$(ls "$prefix"/lib/lible_core.so.*.*.*)
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ -n "$soname" ] && [ -L "$prefix/lib/$soname" ] || fail "no SONAME link for $lib ($soname)"
readelf -d "$lib" | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "$lib has no RUNPATH \$ORIGIN"
[ -e "$prefix/lib/libonnxruntime.so.1" ] || fail "ONNX Runtime is not installed beside the library"
for tool in le-info le-imx le-render; do
  "$prefix/bin/$tool" --version >/dev/null || fail "installed $tool does not start"
done

# Every public header alone, as C99 and as C++.
for h in "$prefix"/include/le/*.h; do
  name=le/$(basename "$h")
  printf '#include <%s>\ntypedef int le_header_alone;\n' "$name" > "$work/one.c"
  cc -std=c99 -Wall -Wextra -pedantic -Werror -fsyntax-only -I"$prefix/include" "$work/one.c" ||
    fail "$name does not compile alone as C99"
  for std in c++11 c++17; do
    c++ -std=$std -Wall -Wextra -pedantic -Werror -fsyntax-only -x c++ -I"$prefix/include" "$work/one.c" ||
      fail "$name does not compile alone as $std"
  done
done

# A host found through the CMake package.
cmake -S "$here/find_package_host" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
"$work/cmake-host/host" "$bundle" || fail "the find_package host failed"

# A host built with pkg-config alone.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion le)" = "$("$prefix/bin/le-info" --version | awk '{print $3}')" ] ||
  fail "le.pc and the library disagree on the version"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/pc-host" "$here/host.c" $(pkg-config --cflags --libs le)
"$work/pc-host" "$bundle" || fail "the pkg-config host failed"

# Both hosts load the installed library and its ONNX Runtime, not the build tree's.
libdir=$(readlink -f "$prefix/lib")
for host in "$work/cmake-host/host" "$work/pc-host"; do
  for so in lible_core.so libonnxruntime.so; do
    loaded=$(ldd "$host" | awk -v so="$so" 'index($1, so) == 1 {print $3}')
    [ "$(dirname "$(readlink -f "$loaded")")" = "$libdir" ] || fail "$host loads $so from '$loaded', not $libdir"
  done
done
echo "install test: both hosts built against $prefix and ran"
