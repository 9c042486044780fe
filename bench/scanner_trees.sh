#!/usr/bin/env bash
# Shows that the scanner patch changes no tree: parses every file of the
# standard library and of the fuzzing corpus with the patched and with the
# published grammar and compares the trees node for node (by a hash of the
# whole tree per file).
#     bash bench/scanner_trees.sh BUILD_DIR [MORE_DIRS...]
set -euo pipefail
build="${1:-build/tests}"
shift || true
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
{
  find "$stdlib" -name '*.py' -print0
  for dir in "$root/tests" "$root/build/fuzz/corpus" "$root/build/fuzz/fixed-corpus" "$@"; do
    if [ -d "$dir" ]; then find "$dir" -type f -print0; fi
  done
} | sort -z > "$work/files"
xargs -0 "$build/bench/tree_dump_patched" < "$work/files" > "$work/patched"
xargs -0 "$build/bench/tree_dump_unpatched" < "$work/files" > "$work/unpatched"
echo "files compared: $(wc -l < "$work/patched")"
if cmp -s "$work/patched" "$work/unpatched"; then
  echo "trees: identical"
else
  echo "trees differ:"
  diff "$work/unpatched" "$work/patched" | head -20
  exit 1
fi
