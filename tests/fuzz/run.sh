#!/usr/bin/env bash
# Runs the fuzz target seeded with the committed Python files of the
# project, and fails on any crash, leak, timeout or memory blow-up. Findings
# are written to build/fuzz-findings/; keep each as a regression file under
# tests/fuzz/regressions/ once fixed.
#     bash tests/fuzz/run.sh BUILD/tests/fuzz/keyhound_fuzz SECONDS
#         random fuzzing for a while, growing build/fuzz/corpus
#     bash tests/fuzz/run.sh --runs BUILD/tests/fuzz/keyhound_fuzz COUNT
#         COUNT inputs from a fixed seed over the committed seeds alone, in a
#         fresh corpus: the same build meets the same inputs every time (CI)
set -euo pipefail
fixed=false
if [ "${1:-}" = "--runs" ]; then
  fixed=true
  shift
fi
fuzzer="$1"
amount="${2:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$root/build/fuzz"
corpus="$work/corpus"
if $fixed; then
  corpus="$work/fixed-corpus"
  rm -rf "$corpus"
fi
findings="$root/build/fuzz-findings"
mkdir -p "$corpus" "$findings"

# Seeds: every Python file of the tests, and the kept regressions.
# Named by their path, since several share a name (conftest.py).
while IFS= read -r -d '' seed; do
  relative="${seed#"$root"/}"
  cp "$seed" "$corpus/${relative//\//_}"
done < <(find "$root/tests" "$root/examples" -name '*.py' -print0)
if [ -d "$root/tests/fuzz/regressions" ]; then
  cp -r "$root/tests/fuzz/regressions/." "$corpus/"
fi

# Replay the regressions on their own first: each must pass.
if compgen -G "$root/tests/fuzz/regressions/*" >/dev/null; then
  "$fuzzer" -close_fd_mask=3 "$root"/tests/fuzz/regressions/*
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if $fixed; then
  limit=(-seed=1 -runs="$amount")
else
  limit=(-max_total_time="$amount")
fi
"$fuzzer" "$corpus" \
  "${limit[@]}" \
  -max_len=200000 \
  -timeout=20 \
  -rss_limit_mb=4096 \
  -close_fd_mask=3 \
  -print_final_stats=1 \
  -artifact_prefix="$findings/"
