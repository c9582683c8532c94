#!/bin/bash
# Runs the tests named by a filter with a symbolic link at a work folder's place, made on the
# Linux side (Wine cannot make one): <dir>/temp/kou3_ins -> <dir>/target, with <dir> handed to
# the tests as a Z: path in KOU3_LINKED; and, where root runs it, <dir>/foreign/kou3_ins with a
# file in it, both another Unix account's (Wine shows them as owned by S-1-5-7), which must stay
# as they are. The folder goes on every way out.
# Usage: linked_folder.sh TESTS_EXE GTEST_FILTER
set -u
tests=$1
filter=$2
dir=$(mktemp -d /tmp/kou3-linked.XXXXXX) || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' INT TERM HUP
mkdir "$dir/temp" "$dir/target"
ln -s "$dir/target" "$dir/temp/kou3_ins"
mkdir -p "$dir/foreign/kou3_ins" && echo theirs >"$dir/foreign/kou3_ins/theirs.txt" &&
  chown -R nobody "$dir/foreign/kou3_ins" 2>/dev/null || rm -rf "$dir/foreign"
KOU3_LINKED="Z:$(printf '%s' "$dir" | tr / '\\')" \
  "$(dirname "$0")/../../tools/wine-run" "$tests" --gtest_filter="$filter" </dev/null
status=$?
[[ ! -d $dir/foreign || "$(stat -c %U "$dir/foreign/kou3_ins")$(cat "$dir/foreign/kou3_ins/theirs.txt")" == nobodytheirs ]] ||
  { echo "linked_folder.sh: another account's kou3_ins was touched" >&2; exit 1; }
exit $status
