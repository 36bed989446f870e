#!/usr/bin/env bash
# The config.yaml that Hydro's page gives: its checker type is syzoj, and the checker it names,
# compiled with Hydro's language cc line (g++ -Wall -std=c++14), judges a right and a wrong output.
#   hydro_config_test.sh SOURCE_DIR DROPINS_DIR
set -euo pipefail
page=$1/doc/judges/hydro.md dropins=$2
config=$(sed -n '/^```yaml$/,/^```$/p' "$page" | head -n 4)
grep -qx 'checker_type: syzoj' <<<"$config" || { echo "FAIL: $page: no checker_type: syzoj"; exit 1; }
checker=$(sed -n 's/^checker: \(.*\)$/\1/p' <<<"$config")
source=$(find "$dropins" -name "$checker" | head -n 1)
[ -n "$source" ] || { echo "FAIL: $page names $checker, which is no drop-in"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -Wall -std=c++14 -o "$work/checker" "$source" -lm
printf '1 2\n3 4\n' >"$work/answer"
for case in "1 2 3 4:100" "1 2 3 5:0"; do
  printf '%s\n' "${case%:*}" >"$work/user_out"
  score=$(cd "$work" && ./checker 2>/dev/null)
  [ "$score" = "${case#*:}" ] || { echo "FAIL: ${case%:*} scored '$score'"; exit 1; }
done
echo "ok: $checker compiles with Hydro's cc line and judges"
