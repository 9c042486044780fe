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
generated="$root/bench/generated/projects"
mkdir -p "$generated"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"

corpus() {  # NAME DIR
  echo "== $1"
  mapfile -d '' files < <(find "$2" -name '*.py' -not -path '*/site-packages/*' -print0 | sort -z)
  "$build/bench/keyhound_bench" modes "$2" "${files[@]}"
}

corpus "standard library" "$stdlib"
for project in Django==5.1.4 sympy==1.13.3; do
  name="${project%%==*}"
  if [ ! -d "$generated/$name" ]; then
    python3 -m pip download --quiet --no-deps --no-binary=:all: --dest "$generated/download" "$project"
    mkdir -p "$generated/$name"
    tar -xzf "$generated"/download/*.tar.gz -C "$generated/$name" --strip-components=1
    rm -rf "$generated/download"
  fi
  corpus "$project" "$generated/$name"
done
