#!/usr/bin/env bash
# Parallel files on the standard library: the native command with one job
# and with every processor, on the same file list, outputs compared byte for
# byte; then the directory walk alone on the same tree.
#     bash bench/jobs.sh BUILD_DIR
set -euo pipefail
build="${1:-build/tests}"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
find "$stdlib" -name '*.py' -not -path '*/site-packages/*' -print0 | sort -z > "$work/files"
cores="$(nproc)"

best_of() {  # best wall time of three runs of: keyhound -j N FILES
  local jobs="$1" best=""
  for _ in 1 2 3; do
    local start end
    start="$(date +%s.%N)"
    xargs -0 "$build/keyhound" --no-cache -j "$jobs" < "$work/files" > "$work/out-$jobs" 2> "$work/err-$jobs" || true
    end="$(date +%s.%N)"
    best="$(python3 -c "import sys; t=$end-$start; b='$best'; print(min(t, float(b)) if b else t)")"
  done
  echo "$best"
}

one="$(best_of 1)"
all="$(best_of "$cores")"
cmp "$work/out-1" "$work/out-$cores" && cmp "$work/err-1" "$work/err-$cores"
echo "files: $(tr -cd '\0' < "$work/files" | wc -c)"
echo "--jobs 1:        ${one} s"
echo "--jobs ${cores}:        ${all} s"
python3 -c "print('speed-up:        %.2f' % ($one / $all))"
echo "output byte-identical: yes"
"$build/bench/keyhound_bench" walk "$stdlib"
