#!/usr/bin/env bash
# The library as a user installs it: the C example built against the installed package, once with
# pkg-config and once with CMake's find_package, and run on the shipped example files.
#   library_install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" --component development >/dev/null
cmake --install "$build" --prefix "$prefix" --component library >/dev/null
libdir=$(dirname "$(find "$prefix" -name filterspace.pc)")/..
expect() {  # expect STATUS OUTPUT-PATTERN PROGRAM ARGS...
  local want=$1 pattern=$2
  shift 2
  set +e
  local said
  said=$(LD_LIBRARY_PATH=$libdir "$@")
  local status=$?
  set -e
  [[ $status == "$want" && $said =~ $pattern ]] || { echo "FAIL: $* gave $status: $said"; exit 1; }
}
check() {  # check PROGRAM
  expect 0 '^same$' "$1" "$source/examples/out.txt" "$source/examples/ans.txt"
  expect 1 '^differ at visible byte 8: .*:3:5, .*:3:5$' "$1" "$source/examples/out.txt" "$source/examples/wrong.txt"
}

if command -v pkg-config >/dev/null; then
  # shellcheck disable=SC2046
  cc "$source/examples/library/compare.c" -o "$scratch/compare-pkg-config" \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --define-variable=prefix="$prefix" --cflags --libs filterspace)
  check "$scratch/compare-pkg-config"
  echo "pkg-config: built and ran"
else
  echo "pkg-config not found (apt-get install pkg-config): skipped"
  exit 77
fi
cmake -S "$source/examples/library" -B "$scratch/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/example" >/dev/null
check "$scratch/example/compare"
echo "CMake package: built and ran"
