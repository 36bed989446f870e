#!/usr/bin/env bash
# The Node module as a judge gets it: the packed tarball installed with no network in an empty
# directory, built from source by npm's own node-gyp with this machine's node against its installed
# headers (--nodedir), loaded, and its tests (node --test) run against that copy.
#   node_module_test.sh BUILD_DIR SOURCE_DIR ORACLE
set -euo pipefail
build=$1 source=$2 oracle=$3
skip() {
  if [ -n "${CI:-}" ]; then echo "FAIL: $1 (CI runs where Node 20, npm and Node's headers are)"; exit 1; fi
  echo "skipped: $1"
  exit 77
}
command -v node >/dev/null || skip "node is not installed"
command -v npm >/dev/null || skip "npm is not installed"
# Node's headers beside its executable: include/node under the directory above bin/.
nodedir=$(dirname "$(dirname "$(readlink -f "$(command -v node)")")")
[ -f "$nodedir/include/node/node_api.h" ] || skip "Node's headers are not in $nodedir/include/node"
tarball=$build/filterspace-$(sed -n 's/.*"version": "\([^"]*\)".*/\1/p' "$source/node/package.json").tgz
[ -f "$tarball" ] || { echo "FAIL: no $tarball (the build's node_package step)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
JOBS=max npm install --offline --no-audit --no-fund --nodedir="$nodedir" "$tarball" >install.log 2>&1 ||
  { cat install.log; echo "FAIL: npm install of the tarball"; exit 1; }
node -e "require('filterspace')"
# A comparison that no abort ends keeps node alive: ended here, as a failure.
FILTERSPACE_NODE="$work/node_modules/filterspace" FILTERSPACE_ORACLE="$oracle" timeout 120 node --test "$source/node/test/"
