#!/usr/bin/env bash
# The result cache on the standard library: a cold run with one job and with
# every processor (a fresh cache each), then a warm run, outputs compared
# byte for byte; then one file changed, and the next run's hits and misses.
#     bash bench/cache.sh BUILD_DIR
set -euo pipefail
build="${1:-build/tests}"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
find "$stdlib" -name '*.py' -not -path '*/site-packages/*' -print0 | sort -z > "$work/files"
cores="$(nproc)"

timed() {  # NAME, then the command; prints the wall time
  local start end
  start="$(date +%s.%N)"
  "${@:2}" > "$work/out-$1" 2> "$work/err-$1" || true
  end="$(date +%s.%N)"
  python3 -c "print('%-28s %.3f s' % ('$1:', $end - $start))"
}

timed no-cache xargs -0 "$build/keyhound" --no-cache -j 1 < "$work/files"
rm -rf "$work/cache1" "$work/cacheN"
timed cold-1-job env KEYHOUND_CACHE_DIR="$work/cache1" xargs -0 "$build/keyhound" -j 1 < "$work/files"
timed "cold-$cores-jobs" env KEYHOUND_CACHE_DIR="$work/cacheN" xargs -0 "$build/keyhound" -j "$cores" < "$work/files"
timed "warm-$cores-jobs" env KEYHOUND_CACHE_DIR="$work/cacheN" xargs -0 "$build/keyhound" -j "$cores" < "$work/files"
for run in cold-1-job "cold-$cores-jobs" "warm-$cores-jobs"; do
  cmp "$work/out-no-cache" "$work/out-$run"
  cmp "$work/err-no-cache" "$work/err-$run"
done
echo "outputs byte-identical: yes"

# One file changed: a copy of the corpus with one file edited.
mkdir -p "$work/copy"
xargs -0 cp --parents -t "$work/copy" < "$work/files"
env KEYHOUND_CACHE_DIR="$work/cacheN" "$build/keyhound" --exit-zero "$work/copy$stdlib" > /dev/null 2>&1 || true
echo "x = {}['edited']" >> "$work/copy$stdlib/json/__init__.py"
env KEYHOUND_CACHE_DIR="$work/cacheN" KEYHOUND_CACHE_STATS=1 "$build/keyhound" "$work/copy$stdlib" \
  2>&1 >/dev/null | tail -1 | sed 's/^/after editing one file: /'
