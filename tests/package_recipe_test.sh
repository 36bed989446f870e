#!/usr/bin/env bash
# The recipe for problem packages (doc/judges/domjudge-kattis.md), checked for everything a judge relies on that can be
# checked without the judge: a minimal package of the format laid out, the validator added by
# examples/problem_package/add_validator.sh, then the paths, execute bits and problem.yaml keys the
# format reads, and in a copy of the package (as a judge copies it) build, then run on a right
# and a wrong team output and on each answer file as its own team output (answer validation).
#   package_recipe_test.sh legacy|2023-07 BUILD_DIR SOURCE_DIR
set -euo pipefail
format=$1 build=$2 source=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL ($format): $*"; exit 1; }

package=$scratch/sum
mkdir -p "$package/data/sample" "$package/data/secret"
case $format in
legacy) printf 'name: Sum\n' >"$package/problem.yaml" ;;
2023-07) printf 'problem_format_version: 2023-07-draft\nname: Sum\nuuid: 5b0d2a4e-8d5c-4b8e-9a59-1f0c6f3a7e21\n' \
  >"$package/problem.yaml" ;;
esac
printf '1 2\n' >"$package/data/sample/1.in"
printf '3\n' >"$package/data/sample/1.ans"
printf '20 22\n' >"$package/data/secret/1.in"
printf '42\n' >"$package/data/secret/1.ans"

bash "$source/examples/problem_package/add_validator.sh" "$format" "$package" "$build/dropins/output_validator" >/dev/null

# Where the format looks, and nowhere else.
case $format in
legacy)
  validator=output_validators/filterspace
  [[ ! -e $package/output_validator ]] || fail "output_validator/ made in a legacy package"
  grep -qx 'validation: custom' "$package/problem.yaml" || fail "problem.yaml lacks validation: custom"
  ;;
2023-07)
  validator=output_validator
  [[ ! -e $package/output_validators ]] || fail "output_validators/ made: a 2023-07 judge never reads it"
  grep -q '^validation:' "$package/problem.yaml" && fail "problem.yaml has the legacy key validation"
  grep -qx 'problem_format_version: 2023-07-draft' "$package/problem.yaml" || fail "problem_format_version changed"
  ;;
esac
for file in build run filterspace_validator.cpp; do
  [[ -f $package/$validator/$file ]] || fail "$validator/$file missing"
done
for script in build run; do
  [[ $(stat -c %a "$package/$validator/$script") == 755 ]] || fail "$validator/$script is not mode 755"
done
[[ $(find "$package/$validator" -type f | wc -l) == 3 ]] || fail "$validator holds more than its three files"

# A judge's copy: build, then run.
judged=$scratch/judged
cp -r "$package" "$judged"
(cd "$judged/$validator" && ./build) || fail "build failed"
[[ -x $judged/$validator/filterspace_validator ]] || fail "build made no executable"
run() {  # run TEAM_OUTPUT_BYTES -> status
  local feedback
  feedback=$(mktemp -d "$scratch/feedback.XXXXXX")
  set +e
  printf '%b' "$1" | "$judged/$validator/run" "$judged/data/secret/1.in" "$judged/data/secret/1.ans" "$feedback"
  local status=$?
  set -e
  echo "$status"
}
[[ $(run '4 2') == 42 ]] || fail "a right team output was not accepted"
[[ $(run '43\n') == 43 ]] || fail "a wrong team output was not rejected"
# Answer validation: each .ans as its own team output.
for answer in "$judged"/data/*/*.ans; do
  input=${answer%.ans}.in
  feedback=$(mktemp -d "$scratch/feedback.XXXXXX")
  status=0
  "$judged/$validator/run" "$input" "$answer" "$feedback" <"$answer" || status=$?
  [[ $status == 42 ]] || fail "answer validation of $(basename "$answer") gave $status"
done
echo "$format: laid out, built and run as a judge does"
