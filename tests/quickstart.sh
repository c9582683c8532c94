#!/usr/bin/env bash
# Runs the README's quick start as it stands, so that the first commands a newcomer types cannot
# rot: the fenced block after the line "<!-- quick start ...". Any command that fails fails this.
set -euo pipefail
cd "$(dirname "$0")/.."
block=$(sed -n '/^<!-- quick start/,/^```$/p' README.md | sed '1,2d;$d')
if [[ -z $block ]]; then
  echo "quickstart: README.md has no fenced block after <!-- quick start" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The block makes its sample drive with mktemp -t, which TMPDIR sends here.
TMPDIR=$work bash -euo pipefail -c "$block" >"$work/output.txt" 2>&1 ||
  { cat "$work/output.txt" >&2; echo "quickstart: the README's quick start failed" >&2; exit 1; }
grep -qx 'exit code 0' "$work/output.txt" ||
  { cat "$work/output.txt" >&2; echo "quickstart: no 'exit code 0'" >&2; exit 1; }
echo "quickstart: the README's quick start ran as written"
