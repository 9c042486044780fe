# The large projects the benchmarks read (their source distributions,
# fetched once with pip into bench/generated/projects): sourced by them.
#     project_dir Django==5.1.4   # prints the directory, fetching it first
bench_projects=(Django==5.1.4 sympy==1.13.3)

project_dir() {
  local generated name
  generated="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/generated/projects"
  name="${1%%==*}"
  if [ ! -d "$generated/$name" ]; then
    mkdir -p "$generated"
    python3 -m pip download --quiet --no-deps --no-binary=:all: --dest "$generated/download" "$1" >&2
    mkdir -p "$generated/$name"
    tar -xzf "$generated"/download/*.tar.gz -C "$generated/$name" --strip-components=1
    rm -rf "$generated/download"
  fi
  echo "$generated/$name"
}
