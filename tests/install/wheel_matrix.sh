#!/usr/bin/env bash
# Installs one wheel into a clean virtual environment of every CPython from
# 3.9 to 3.13 this machine has (pyenv's, or a python3.N on PATH) and runs the
# end-to-end tests against each, from what the environment holds rather than
# from the build tree: all of them under the newest version, and under the
# others those of the modules and the package (the command is the same file
# under every version, and the build tree's run is another full one).
#     bash tests/install/wheel_matrix.sh dist/keyhound-*.whl
set -euo pipefail

wheel="$(realpath "$1")"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
versions="${PYENV_ROOT:-$HOME/.pyenv}/versions"

interpreter_for() {
  local minor="$1" found
  found="$(ls -d "$versions"/3."$minor".*/bin/python3 2>/dev/null | sort -V | tail -n 1)"
  [ -n "$found" ] || found="$(command -v "python3.$minor" || true)"
  echo "$found"
}

found=()
for minor in 9 10 11 12 13; do
  python="$(interpreter_for "$minor")"
  if [ -z "$python" ]; then
    echo "CPython 3.$minor: not on this machine, skipped"
    continue
  fi
  found+=("$minor:$python")
done

module_tests=("$root/tests/python/test_module.py" "$root/tests/python/test_api.py"
              "$root/tests/python/test_command_line.py")
tested=()
for i in "${!found[@]}"; do
  minor="${found[$i]%%:*}"
  python="${found[$i]#*:}"
  if [ "$i" -eq $((${#found[@]} - 1)) ]; then
    tests=(-n auto "$root/tests/python")
  else
    tests=("${module_tests[@]}")
  fi
  echo "CPython 3.$minor ($python): ${tests[*]##*/tests/}"
  environment="$root/build/wheel-env-3.$minor"
  rm -rf "$environment"
  "$python" -m venv "$environment"
  "$environment/bin/python" -m pip install -q --disable-pip-version-check \
    "$wheel" "pytest>=7" "pytest-xdist>=3" "jsonschema>=4"
  KEYHOUND_FROM_ENVIRONMENT=1 KEYHOUND_PLAIN_COMMAND="${KEYHOUND_PLAIN_COMMAND:-}" \
    "$environment/bin/python" -m pytest -q -p no:cacheprovider \
    "$root/tests/install" "${tests[@]}"
  tested+=("3.$minor")
done
if [ ${#tested[@]} -eq 0 ]; then
  echo "no CPython from 3.9 to 3.13 found: the wheel was not tested" >&2
  exit 1
fi
echo "the wheel passed under CPython ${tested[*]}"
