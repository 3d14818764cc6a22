#!/usr/bin/env bash
# tools/check-layers on a copy of the core folders: the tree as it is passes;
# an include planted upwards, across the io/net level, or from platform/ into
# the core fails the check, and the report names the file and the line.
set -u
src=${1:?usage: check_layers_test.sh SOURCE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

copy_tree() {
  rm -rf "$work/tree" && mkdir -p "$work/tree/tools"
  for d in platform util io net ui prefs installer; do cp -rL "$src/$d" "$work/tree/$d"; done
  cp "$src/tools/check-layers" "$work/tree/tools/"
}

# Inserts `text` as line 2 of `file` (below its first line) in the copy.
plant() {
  local file=$1 text=$2
  sed -i "1a $text" "$work/tree/$file"
}

# Runs the check on the copy; expects failure and the given report line.
expect_reported() {
  local want=$1 out rc
  out=$("$work/tree/tools/check-layers" "$work/tree" 2>/dev/null)
  rc=$?
  [ "$rc" -eq 1 ] || fail "exit status $rc for a tree with: $want"
  grep -qxF "$want" <<<"$out" || fail "report lacks '$want'; got: $out"
}

copy_tree
"$work/tree/tools/check-layers" "$work/tree" || fail "the unchanged tree does not pass"

plant util/xtim.cpp '#include "ui/butn.h"'
expect_reported 'util/xtim.cpp:2: includes "ui/butn.h" (layer util may not include layer ui)'

copy_tree
plant io/md5.cpp '#include "net/http.h"'
expect_reported 'io/md5.cpp:2: includes "net/http.h" (layer io may not include layer net)'

copy_tree
plant platform/files.cpp '#include "util/log.h"'
expect_reported 'platform/files.cpp:2: includes "util/log.h" (layer platform may not include layer util)'

copy_tree
plant prefs/pref.h '#include "installer/model.h"'
expect_reported 'prefs/pref.h:2: includes "installer/model.h" (layer prefs may not include layer installer)'

echo "check-layers reports every planted include"
