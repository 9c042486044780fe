#!/usr/bin/env bash
# Builds keyhound and runs every test: the C++ unit tests (GoogleTest, under
# ctest), the end-to-end tests of the command and the module (pytest), those
# of the language server (pytest-lsp, and Neovim's client), the wheel under
# every CPython 3.9-3.13 found, the
# same unit tests under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, and a short fuzzing pass. Run from anywhere:
#     bash tests/run_all.sh
# KEYHOUND_FUZZ_RUNS sets the fuzzing pass's number of inputs (default
# 6000, from a fixed seed over the committed seeds, so that the same code
# always meets the same inputs; 0 skips it). Each phase prints its duration.
set -euo pipefail

phase_started=$SECONDS
run_started=$SECONDS
phase() {
  if [ -n "${phase_name:-}" ]; then
    echo "-- ${phase_name}: $((SECONDS - phase_started)) s"
  fi
  phase_name="$1"
  phase_started=$SECONDS
  [ -n "$1" ] && echo "== $1"
  return 0
}

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/tests"
jobs="$(nproc)"
python="${PYTHON:-python3}"

need_packages=()
[ -e /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] ||
  [ -n "$(find /usr/lib -name GTestConfig.cmake -print -quit 2>/dev/null)" ] ||
  need_packages+=(libgtest-dev googletest)
# clang 19 is the first of Debian's clangs whose C++23 mode takes
# libstdc++ 12's <expected>; its runtimes bring libFuzzer and the sanitizers.
command -v clang++-19 >/dev/null || need_packages+=(clang-19)
[ -n "$(find /usr/lib/llvm-19 -name 'libclang_rt.fuzzer*' -print -quit 2>/dev/null)" ] ||
  need_packages+=(libclang-rt-19-dev)
command -v ninja >/dev/null || need_packages+=(ninja-build)
# The editor test drives Neovim's built-in LSP client.
command -v nvim >/dev/null || need_packages+=(neovim)
if [ ${#need_packages[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need_packages[*]} (install them, or run as root)" >&2
    exit 1
  fi
  phase "system packages: ${need_packages[*]}"
  # Another process may hold the package lock (an unattended upgrade): wait.
  apt-get -o DPkg::Lock::Timeout=600 update -q
  apt-get -o DPkg::Lock::Timeout=600 install -y -q "${need_packages[@]}"
fi

phase "virtual environment with pytest"
venv="$root/build/test-venv"
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q "pytest>=7" "pytest-xdist>=3" "jsonschema>=4" "pytest-lsp>=1.0,<2"

phase "build"
cmake -S "$root" -B "$build" -G Ninja -DKEYHOUND_BUILD_TESTS=ON -DKEYHOUND_BUILD_BENCH=ON \
  -DKEYHOUND_WARNINGS_AS_ERRORS=ON \
  -DPython_EXECUTABLE="$venv/bin/python"
cmake --build "$build" -j "$jobs"

phase "C++ unit tests"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

phase "end-to-end tests of the command and the module"
# Every test runs keyhound in child processes of its own: they run side by side.
KEYHOUND_BUILD_DIR="$build" "$venv/bin/python" -m pytest -q -n "$jobs" "$root/tests/python"

phase "the language server: pytest-lsp end to end, a bare client, Neovim"
KEYHOUND_BUILD_DIR="$build" "$venv/bin/python" -m pytest -q "$root/tests/server"
KEYHOUND_BUILD_DIR="$build" "$venv/bin/python" -m pytest -q "$root/tests/editor"

phase "a source distribution, and its wheel built without the network"
(cd "$root" && cmake -P cmake/vendor_sources.cmake)
"$venv/bin/python" -m pip install -q scikit-build-core
sdist="$root/build/sdist"
rm -rf "$sdist"
(cd "$root" && "$venv/bin/python" -c \
  "import scikit_build_core.build as b; b.build_sdist('$sdist')")
tar -tzf "$sdist/keyhound-0.1.3.tar.gz" > "$sdist/contents.txt"
grep -q "third_party/tree_sitter_python-0.23.6/src/parser.c" "$sdist/contents.txt"
grep -q "third_party/pytomlpp-1.1.0/third_party/tomlplusplus/toml.hpp" "$sdist/contents.txt"
grep -q "third_party/argon2_cffi_bindings-25.1.0/extras/libargon2/src/blake2/blake2b.c" "$sdist/contents.txt"
grep -q "third_party/jsonnet-0.22.0/third_party/json/nlohmann/json.hpp" "$sdist/contents.txt"
"$venv/bin/python" -m pip wheel -q --no-index --no-build-isolation --no-deps \
  "$sdist/keyhound-0.1.3.tar.gz" -w "$sdist/wheel"
wheel="$(ls "$sdist"/wheel/keyhound-*.whl)"
"$venv/bin/python" -m pip install -q "auditwheel>=6"
"$venv/bin/auditwheel" show "$wheel"

phase "the wheel in clean environments of CPython 3.9 to 3.13"
# The wheel is built with link-time optimisation, the build tree plain:
# tests/install compares their output byte for byte.
KEYHOUND_PLAIN_COMMAND="$build/keyhound" bash "$root/tests/install/wheel_matrix.sh" "$wheel"

sanitized="$root/build/sanitize"
phase "unit tests under ASan, UBSan and LSan"
# -O1 and line tables only, as sanitizer builds usually are: they compile
# faster and still name every line of a report.
CC=clang-19 CXX=clang++-19 cmake -S "$root" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DKEYHOUND_SANITIZE=ON -DKEYHOUND_WARNINGS_AS_ERRORS=ON -DKEYHOUND_BUILD_TESTS=ON -DKEYHOUND_BUILD_FUZZER=ON \
  -DKEYHOUND_BUILD_MODULE=OFF -DPython_EXECUTABLE="$venv/bin/python"
cmake --build "$sanitized" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$sanitized" --output-on-failure -j "$jobs"

fuzz_runs="${KEYHOUND_FUZZ_RUNS:-6000}"
if [ "$fuzz_runs" -gt 0 ]; then
  phase "fuzzing: ${fuzz_runs} inputs from a fixed seed"
  bash "$root/tests/fuzz/run.sh" --runs "$sanitized/tests/fuzz/keyhound_fuzz" "$fuzz_runs"
  # fuzz_target TARGET SEEDS MAX_LEN [OPTION...]: the target over a corpus
  # that starts from the committed seeds, from a fixed seed.
  fuzz_target() {
    local target="$1" seeds="$2" max_len="$3" corpus="$root/build/fuzz/$1-corpus"
    shift 3
    rm -rf "$corpus" && mkdir -p "$corpus" "$root/build/fuzz-findings"
    cp "$root/tests/fuzz/$seeds"/* "$corpus/"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$sanitized/tests/fuzz/$target" "$corpus" -seed=1 -runs="$fuzz_runs" -max_len="$max_len" \
      -timeout=20 -print_final_stats=1 -artifact_prefix="$root/build/fuzz-findings/" "$@"
  }
  phase "fuzzing the language server: ${fuzz_runs} inputs from a fixed seed"
  fuzz_target server_fuzz server_seeds 65536 -rss_limit_mb=4096 -close_fd_mask=3
  phase "fuzzing the frame reader: ${fuzz_runs} frames with bad lengths, each followed by good ones"
  fuzz_target frame_fuzz frame_seeds 4096
  phase "fuzzing notebooks: ${fuzz_runs} notebooks and code cells"
  fuzz_target notebook_fuzz notebook_seeds 8192
  # Each input is up to eight edits, each version analysed twice: a tenth
  # as many inputs cost about as much as the others.
  memo_runs=$(( (fuzz_runs + 9) / 10 ))
  phase "fuzzing the editor's flow memo: ${memo_runs} texts and edits, against analyses afresh"
  fuzz_target flow_memo_fuzz flow_memo_seeds 1024 -runs="$memo_runs"
fi
phase ""
echo "== all tests passed in $((SECONDS - run_started)) s"
