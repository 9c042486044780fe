#!/usr/bin/env bash
# The standard-library benchmark: every .py file of the installed Python's
# standard library, parse-and-walk floor against keyhound's whole path.
#     bash bench/corpus.sh BUILD_DIR
set -euo pipefail
build="${1:-build/tests}"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')"
mapfile -d '' files < <(find "$stdlib" -name '*.py' -not -path '*/site-packages/*' -print0 | sort -z)
"$build/bench/keyhound_bench" corpus "${files[@]}"
