#!/usr/bin/env bash
# --exact against precise mode (the native command's default) on the
# standard library and on two large projects (their source distributions,
# fetched once with pip into bench/generated/): findings in each mode and in
# test code, what each precise rule removed, what re-raising handlers
# added, and the time of both.
#     bash bench/precise.sh BUILD_DIR
set -euo pipefail
build="${1:-build/tests}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/bench/projects.sh"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"

corpus() {  # NAME DIR
  echo "== $1"
  mapfile -d '' files < <(find "$2" -name '*.py' -not -path '*/site-packages/*' -print0 | sort -z)
  "$build/bench/keyhound_bench" modes "$2" "${files[@]}"
}

corpus "standard library" "$stdlib"
for project in "${bench_projects[@]}"; do
  corpus "$project" "$(project_dir "$project")"
done
