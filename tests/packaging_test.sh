#!/usr/bin/env bash
# Tests of what a judge fleet installs: the install rules, the manual page, the Debian package,
# and the installed checker in a bare chroot.
#   packaging_test.sh install|manual|package|library|reproducible|chroot BUILD_DIR SOURCE_DIR
# Exit 77 (a skip for CTest) where the machine cannot run a case, with the reason.
set -euo pipefail

mode=$1
build=$2
source=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
skip_unless_static() {
  if readelf -l "$1" | grep -q INTERP; then skip "this build's checker is not static (sanitizers)"; fi
}

# The files below a directory, as sorted relative paths.
files_below() { (cd "$1" && find . -type f | sort); }

# What is installed below a prefix, sorted: each command, the package's documentation files, the
# drop-ins, the lintian override, and the manual pages.
commands=(filterspace_cmp filterspace_cms filterspace_e filterspace_hustoj filterspace_lemon filterspace_syzoj
  filterspace_testlib filterspace_validator)
installed_files() {
  for command in "${commands[@]}"; do echo "$1/bin/$command"; done
  echo "$1/share/doc/filterspace-e/changelog.gz"
  echo "$1/share/doc/filterspace-e/copyright"
  if [[ -d $build/dropins ]]; then  # x86-64 builds only
    echo "$1/share/filterspace-e/hustoj/filterspace_hustoj.cpp"
    echo "$1/share/filterspace-e/lemon/filterspace_lemon.cpp"
    echo "$1/share/filterspace-e/output_validator/build"
    echo "$1/share/filterspace-e/output_validator/filterspace_validator.cpp"
    echo "$1/share/filterspace-e/output_validator/run"
    echo "$1/share/filterspace-e/syzoj/filterspace_syzoj.cpp"
    echo "$1/share/filterspace-e/testlib/filterspace_testlib_checker.cpp"
  fi
  echo "$1/share/lintian/overrides/filterspace-e"
  for command in "${commands[@]}"; do echo "$1/share/man/man1/$command.1.gz"; done
}

# Builds the package from the source tree copied to $1 (the tracked and new files, and the
# repository, so that its time stamps come from the last commit), configured as $build is.
package_from_copy() {
  mkdir -p "$1/source"
  git -C "$source" ls-files -z --cached --others --exclude-standard |
    tar -C "$source" --null -T - -cf - | tar -C "$1/source" -xf -
  cp -r "$source/.git" "$1/source/.git"
  musl=$(sed -n 's/^FILTERSPACE_MUSL:BOOL=//p' "$build/CMakeCache.txt")
  toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
  (unset SOURCE_DATE_EPOCH
   cmake -S "$1/source" -B "$1/build" -DCMAKE_BUILD_TYPE=Release -DFILTERSPACE_TESTS=OFF \
     -DFILTERSPACE_MUSL="${musl:-OFF}" ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} >/dev/null &&
     cmake --build "$1/build" -j2 >/dev/null &&
     cpack --config "$1/build/CPackConfig.cmake" -G DEB -B "$1/package" >/dev/null &&
     cpack --config "$1/build/CPackLibraryConfig.cmake" -B "$1/package" >/dev/null) || fail "building in $1"
  echo "$1"/package/*.deb
}

case $mode in
install)
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  want=$(installed_files .)
  [[ $(files_below "$scratch/prefix") == "$want" ]] || fail "installed files: $(files_below "$scratch/prefix")"
  [[ -x $scratch/prefix/bin/filterspace_e ]] || fail "the checker is not executable"
  DESTDIR="$scratch/staged" cmake --install "$build" --prefix /usr/local >/dev/null
  want=$(installed_files ./usr/local)
  [[ $(files_below "$scratch/staged") == "$want" ]] || fail "DESTDIR ignored: $(files_below "$scratch/staged")"
  ;;

manual)
  command -v groff >/dev/null || skip "groff is not installed"
  for command in "${commands[@]}"; do
    page=$build/man/$command.1  # with the version in its title line
    if command -v mandoc >/dev/null; then
      mandoc -T lint "$page" || fail "mandoc -T lint $page"
    fi
    warnings=$(groff -ww -z -man "$page" 2>&1)
    [[ -z $warnings ]] || fail "groff: $warnings"
    grep -qF "EXIT STATUS" <(groff -man -Tutf8 -P-cbu "$page" 2>/dev/null) || fail "$page lacks its exit status"
  done
  rendered=$(groff -man -Tutf8 -P-cbu "$build/man/filterspace_e.1" 2>/dev/null)
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  for text in "Right Output!!!" "/tmp/_eval.score" "EXIT STATUS" "Can not open eval record file!" "filterspace_e $version"; do
    grep -qF "$text" <<<"$rendered" || fail "the manual page lacks '$text'"
  done
  ;;

package)
  command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
  command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is not installed"
  skip_unless_static "$build/filterspace_e"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >/dev/null
  deb=$(echo "$scratch"/filterspace-e_*.deb)
  [[ -f $deb ]] || fail "no package built"
  contents=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
  want=$(installed_files ./usr)
  [[ $contents == "$want" ]] || fail "package contents: $contents"
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "version $(dpkg-deb -f "$deb" Version)"
  [[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "no maintainer"
  [[ -z $(dpkg-deb -f "$deb" Depends) ]] || fail "a static binary depends on $(dpkg-deb -f "$deb" Depends)"
  [[ $(dpkg-deb -f "$deb" Description | wc -l) -gt 3 ]] || fail "no long description"
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian: $(lintian "$deb" 2>/dev/null)"
  else
    echo "lintian is not installed: the package was not checked with it"
  fi

  [[ $(dpkg-deb -f "$deb" Architecture) == $(dpkg --print-architecture) ]] ||
    skip "a package for $(dpkg-deb -f "$deb" Architecture) is not installed on this machine"
  [[ $(id -u) == 0 ]] || skip "installing the package needs root"
  if dpkg -s filterspace-e >/dev/null 2>&1; then skip "filterspace-e is installed already; left alone"; fi
  [[ ! -e /usr/bin/filterspace_e ]] || skip "/usr/bin/filterspace_e exists already; left alone"
  dpkg -i "$deb" >/dev/null || fail "dpkg -i"
  installed_ok=1
  for path in $(installed_files /usr); do [[ -f $path ]] || installed_ok=0; done
  /usr/bin/filterspace_cmp "$source/examples/out.txt" "$source/examples/ans.txt" || installed_ok=0
  dpkg -r filterspace-e >/dev/null || fail "dpkg -r"
  [[ $installed_ok == 1 ]] || fail "dpkg -i did not install the files"
  for path in $(installed_files /usr); do [[ ! -e $path ]] || fail "dpkg -r left $path"; done
  ;;

library)
  # The library's packages: the shared library, and the development files built against.
  command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
  command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is not installed"
  cpack --config "$build/CPackLibraryConfig.cmake" -B "$scratch" >/dev/null
  library=$(echo "$scratch"/libfilterspace1_*.deb) development=$(echo "$scratch"/libfilterspace-dev_*.deb)
  [[ -f $library && -f $development ]] || fail "no library packages built"
  library_files=$(dpkg-deb -c "$library" | awk '{print $6}')
  development_files=$(dpkg-deb -c "$development" | awk '{print $6}')
  soname=$(grep -E 'libfilterspace\.so\.1$' <<<"$library_files") || fail "no SONAME link: $library_files"
  for file in include/filterspace/filterspace.h libfilterspace.so libfilterspace.a pkgconfig/filterspace.pc \
    cmake/filterspace/filterspaceConfig.cmake man3/filterspace.3.gz; do
    grep -q "$file\$" <<<"$development_files" || fail "libfilterspace-dev lacks $file"
  done
  [[ $(dpkg-deb -f "$development" Depends) == "libfilterspace1 (= $(dpkg-deb -f "$library" Version))" ]] ||
    fail "libfilterspace-dev depends on $(dpkg-deb -f "$development" Depends)"
  if command -v lintian >/dev/null; then
    for deb in "$library" "$development"; do
      lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian: $(lintian "$deb" 2>&1)"
    done
  fi
  [[ $(dpkg-deb -f "$library" Architecture) == $(dpkg --print-architecture) ]] ||
    skip "packages for $(dpkg-deb -f "$library" Architecture) are not installed on this machine (checked: $soname)"
  [[ $(id -u) == 0 ]] || skip "installing the packages needs root"
  # A library built with a sanitizer runs only with that sanitizer loaded first.
  if readelf -d "$build/libfilterspace.so.1" 2>/dev/null | grep -qE 'NEEDED.*lib[at]san'; then
    skip "a sanitized library is not installed (checked: $soname)"
  fi
  # Only an installed package is left alone: one removed earlier may leave its configuration's
  # record, which a purge clears.
  if [[ $(dpkg-query -W -f='${db:Status-Status}' libfilterspace1 2>/dev/null) == installed ]]; then
    skip "libfilterspace1 is installed already; left alone"
  fi
  dpkg -i "$library" "$development" >/dev/null || fail "dpkg -i"
  built=0
  # shellcheck disable=SC2046
  cc "$source/examples/library/compare.c" -o "$scratch/compare" $(pkg-config --cflags --libs filterspace) &&
    "$scratch/compare" "$source/examples/out.txt" "$source/examples/ans.txt" >/dev/null && built=1
  dpkg -P libfilterspace-dev libfilterspace1 >/dev/null || fail "dpkg -P"
  [[ $built == 1 ]] || fail "the example did not build and run against the installed packages"
  ;;

reproducible)
  # Two builds of the same commit in different directories give the same package, byte for byte.
  command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
  command -v git >/dev/null && git -C "$source" rev-parse HEAD >/dev/null 2>&1 || skip "not a git checkout"
  skip_unless_static "$build/filterspace_e"
  read -r -a first <<<"$(package_from_copy "$scratch/one")"
  read -r -a second <<<"$(package_from_copy "$scratch/two")"
  [[ ${#first[@]} == 3 && ${#second[@]} == 3 ]] || fail "packages: ${first[*]}"
  for k in 0 1 2; do
    cmp "${first[$k]}" "${second[$k]}" || fail "two builds gave different packages: ${first[$k]##*/}"
  done
  ;;

chroot)
  [[ $(id -u) == 0 ]] || skip "chroot needs root"
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  checker=$scratch/prefix/bin/filterspace_e
  skip_unless_static "$checker"
  root=$scratch/root
  mkdir -p "$root/tmp"
  chmod 1777 "$root/tmp"
  cp "$checker" "$root/filterspace_e"
  cp "$scratch/prefix/bin/filterspace_cmp" "$root/filterspace_cmp"
  printf '1 2\r\n3\r\n' >"$root/out"
  printf '12\n3' >"$root/ans"
  printf '12\n4' >"$root/wrong"
  chroot "$root" /filterspace_e /nowhere /out /ans 2>/dev/null && status=0 || status=$?
  [[ $status == 126 || $status == 127 ]] && skip "chroot cannot run here"
  [[ $status == 1 ]] || fail "right output: status $status"
  [[ $(cat "$root/tmp/_eval.score") == $'Right Output!!!\n10' ]] || fail "right output: record"
  chroot "$root" /filterspace_e /nowhere /out /wrong && status=0 || status=$?
  [[ $status == 0 && $(cat "$root/tmp/_eval.score") == $'Wrong Answer\n0' ]] || fail "wrong output: $status"
  chroot "$root" /filterspace_cmp /out /wrong >/dev/null && status=0 || status=$?
  [[ $status == 1 ]] || fail "filterspace_cmp in the chroot: status $status"
  # Closed standard descriptors, and no /dev/null in the chroot to hold them with.
  chroot "$root" /filterspace_e /nowhere /out /ans <&- >&- 2>&- && status=0 || status=$?
  [[ $status == 1 ]] || fail "closed descriptors: status $status"
  [[ $(od -c "$root/tmp/_eval.score") == "$(printf 'Right Output!!!\n10\n' | od -c)" ]] || fail "closed descriptors: record"
  chroot "$root" /filterspace_e /nowhere /missing /ans <&- >&- 2>&- && status=0 || status=$?
  [[ $status == 0 ]] || fail "closed descriptors, missing output: status $status"
  [[ $(od -c "$root/tmp/_eval.score") == "$(printf "Can not open player's output file!\n0\n" | od -c)" ]] ||
    fail "closed descriptors, missing output: record $(od -c "$root/tmp/_eval.score")"
  ;;

*)
  fail "unknown mode $mode"
  ;;
esac
echo "PASS: $mode"
