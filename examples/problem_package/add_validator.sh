#!/bin/sh
# Puts the visible-byte output validator into a problem package, where its format looks for it:
#   add_validator.sh legacy|2023-07 PACKAGE [VALIDATOR_DIR]
# VALIDATOR_DIR holds build, run and filterspace_validator.cpp: by default the installed package's
# /usr/share/filterspace-e/output_validator, else a build tree's dropins/output_validator.
#   legacy   output_validators/filterspace/, and "validation: custom" in problem.yaml: without it
#            the judge uses its default validator, and "1 2" against "12" is a wrong answer.
#   2023-07  output_validator/ (one validator, no name under it), in a package whose problem.yaml
#            says problem_format_version: 2023-07-draft or later; there the directory alone makes
#            the judge use it, and output_validators/ is not read at all.
set -eu
usage="usage: add_validator.sh legacy|2023-07 PACKAGE [VALIDATOR_DIR]"
[ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
format=$1 package=$2
here=$(cd "$(dirname "$0")" && pwd)
from=${3:-}
if [ -z "$from" ]; then
  for candidate in /usr/share/filterspace-e/output_validator "$here/../../build/default/dropins/output_validator"; do
    [ -f "$candidate/filterspace_validator.cpp" ] && { from=$candidate; break; }
  done
fi
[ -n "$from" ] && [ -f "$from/filterspace_validator.cpp" ] ||
  { echo "add_validator.sh: no validator to copy: name its directory (build, run, filterspace_validator.cpp)" >&2; exit 1; }
yaml=$package/problem.yaml
[ -f "$yaml" ] || { echo "add_validator.sh: $yaml: no such file: not a problem package" >&2; exit 1; }
declared=$(sed -n 's/^problem_format_version:[[:space:]]*\([^[:space:]#]*\).*/\1/p' "$yaml")

case $format in
legacy)
  case $declared in
  "" | legacy) ;;
  *) echo "add_validator.sh: $yaml declares problem_format_version $declared: use 2023-07" >&2; exit 1 ;;
  esac
  target=$package/output_validators/filterspace
  if grep -q '^validation:' "$yaml"; then
    sed -i 's/^validation:.*/validation: custom/' "$yaml"
  else
    printf 'validation: custom\n' >>"$yaml"
  fi
  ;;
2023-07)
  case $declared in
  2023-07* | 202[4-9]-*) ;;
  *) echo "add_validator.sh: $yaml does not declare problem_format_version 2023-07-draft or later: use legacy" >&2
    exit 1 ;;
  esac
  target=$package/output_validator
  ;;
*)
  echo "$usage" >&2
  exit 2
  ;;
esac

mkdir -p "$target"
cp "$from/filterspace_validator.cpp" "$target/"
for script in build run; do
  cp "$from/$script" "$target/$script"
  chmod 755 "$target/$script"
done
echo "$target"
