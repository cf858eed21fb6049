#!/usr/bin/env bash
# Installs Velt into a temporary prefix and builds examples/roundtrip.c against
# it twice, through find_package(Velt) and through pkg-config, then runs both
# and looks for the man page. Usage: tests/install_check.sh [extra cmake args]
# (e.g. -DBUILD_SHARED_LIBS=ON). Needs cmake, a C/C++ compiler and pkg-config.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "== build and install into $prefix"
cmake -S "$root" -B "$work/build" -DVELT_TESTS=OFF "$@" >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cmake --install "$work/build" --prefix "$prefix" >/dev/null

echo "== example through find_package(Velt)"
cmake -S "$root/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/roundtrip"

echo "== example through pkg-config"
libdir="$(dirname "$(find "$prefix" -name velt.pc -print -quit)")"
export PKG_CONFIG_PATH="$libdir"
pc_version="$(pkg-config --modversion velt)"
bin_version="$("$prefix/bin/velt" --version | awk '{print $2}')"
if [ "$pc_version" != "$bin_version" ]; then
  echo "install check: velt.pc says $pc_version, velt --version $bin_version" >&2
  exit 1
fi
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$work/roundtrip-pc" "$root/examples/roundtrip.c" \
  $(pkg-config --cflags --libs velt) -Wl,-rpath,"$(pkg-config --variable=libdir velt)"
"$work/roundtrip-pc"

echo "== installed binary and man page"
printf 'installed velt round trip\n' > "$work/sample"
"$prefix/bin/velt" e -si "$work/sample" "$work/sample.velt"
"$prefix/bin/velt" d -si "$work/sample.velt" "$work/sample.out"
cmp "$work/sample" "$work/sample.out"
man_page="$prefix/share/man/man1/velt.1"
[ -f "$man_page" ] || { echo "install check: no $man_page" >&2; exit 1; }
if command -v man >/dev/null; then
  man -l "$man_page" 2>/dev/null | grep -q "lossless PPM compressor for single files" ||
    { echo "install check: man -l cannot render $man_page" >&2; exit 1; }
fi
echo "install check: OK"
