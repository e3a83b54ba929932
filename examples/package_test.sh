#!/bin/sh
# Installs the built library to a scratch prefix and builds examples/extract.cpp
# against it twice: with find_package(lkword) and with pkg-config. Each build
# must print the text of a sample document.
#
# usage: package_test.sh BUILD_DIR SOURCE_DIR CXX
set -eu
build=$1
source=$2
cxx=$3
sample=$source/testdata/samples/lighthouse.pdb
work=$(mktemp -d -t lkword-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
[ -f "$work/prefix/share/man/man1/lkword.1" ] || { echo "the man page is not installed"; exit 1; }
[ -f "$work/prefix/include/lkword.h" ] || { echo "the C header is not installed"; exit 1; }
if find "$work/prefix/include" -path '*testing*' | grep -q .; then echo "test helpers are installed"; exit 1; fi

cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/extract" "$sample" 2>/dev/null | grep -q "ninety-one steps"
echo "find_package: ok"

if ! command -v pkg-config >/dev/null 2>&1; then
  echo "pkg-config: skipped (pkg-config is not installed)"
  exit 0
fi
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
# Plain --libs must link: the library is static, so zlib is a public need.
flags=$(PKG_CONFIG_PATH=$libdir pkg-config --cflags --libs lkword)
# shellcheck disable=SC2086
"$cxx" -std=c++20 -o "$work/extract-pc" "$source/examples/extract.cpp" $flags
"$work/extract-pc" "$sample" 2>/dev/null | grep -q "ninety-one steps"
echo "pkg-config: ok"
