#!/usr/bin/env bash
# The library as a user installs it: the C example built against the installed package, once with
# pkg-config and once with CMake's find_package, and run on the shipped example files.
#   library_install_test.sh BUILD_DIR SOURCE_DIR            into a prefix of its own, run through
#                                                           LD_LIBRARY_PATH
#   library_install_test.sh BUILD_DIR SOURCE_DIR system     the library page's steps into /usr/local, ldconfig
#                                                           included, the example run as any program is:
#                                                           as root, in a mount namespace of its own over
#                                                           a scratch /usr/local and /etc
set -euo pipefail
build=$1 source=$2 mode=${3:-prefix}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [[ $mode == system ]]; then
  if [[ ${FILTERSPACE_IN_NAMESPACE:-} != 1 ]]; then
    [[ $(id -u) == 0 ]] || { echo "skipped: needs root, for a mount namespace"; exit 77; }
    unshare --mount true 2>/dev/null || { echo "skipped: no mount namespace can be made here"; exit 77; }
    FILTERSPACE_IN_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
  fi
  # A scratch /usr/local and a copy of /etc, so that the install and ldconfig touch nothing real.
  mkdir "$scratch/local" "$scratch/etc"
  cp -a /etc/. "$scratch/etc/"
  mount --bind "$scratch/local" /usr/local
  mount --bind "$scratch/etc" /etc
  # The library page's steps (doc/library.md).
  cmake --install "$build" --prefix /usr/local --component library >/dev/null
  cmake --install "$build" --prefix /usr/local --component development >/dev/null
  cc "$source/examples/library/compare.c" -o "$scratch/compare" $(pkg-config --cflags --libs filterspace)
  if "$scratch/compare" "$source/examples/out.txt" "$source/examples/ans.txt" >/dev/null 2>&1; then
    echo "FAIL: found the library before ldconfig: the test does not see the trap it guards"
    exit 1
  fi
  ldconfig
  said=$("$scratch/compare" "$source/examples/out.txt" "$source/examples/ans.txt") ||
    { echo "FAIL: after the library page's steps, the example does not run: $said"; exit 1; }
  [[ $said == same ]] || { echo "FAIL: said $said"; exit 1; }
  echo "installed in /usr/local, ldconfig run: the example runs without LD_LIBRARY_PATH"
  exit 0
fi

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
