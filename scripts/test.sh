#!/usr/bin/env bash
# The whole test run: dependencies, the layering and format checks, build, the suite, the
# suite under ASan+UBSan, and a short run of every fuzz target. Exits non-zero on any failure.
#   ORVIK_SKIP_SANITIZE=1  leave out the sanitizer pass
#   ORVIK_SKIP_TSAN=1      leave out the ThreadSanitizer pass of the journal thread test
#   ORVIK_SKIP_FUZZ=1      leave out the fuzz pass
#   ORVIK_FUZZ_SECONDS=N   seconds per fuzz target (default 60)
#   ORVIK_SOAK_SECONDS=N   length of the soak in the test stage (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

stage_start=0
stage() { stage_start=$(date +%s); echo; echo "==== $1"; }
stage_done() { echo "==== $1 took $(( $(date +%s) - stage_start )) s"; }
total_start=$(date +%s)

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/orvik-runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export CCACHE_DIR=${CCACHE_DIR:-$root/build/.ccache} CCACHE_BASEDIR=$root
export ORVIK_SOAK_SECONDS=${ORVIK_SOAK_SECONDS:-60}

stage "dependencies"
scripts/setup-deps
stage_done "dependencies"

# The layering and format checks: all of them run, and a failure fails the run at its end
# without holding back the stages after them.
stage "checks"
failed_checks=()
scripts/include-graph || failed_checks+=(include-graph)
scripts/check-format || failed_checks+=(check-format)
# Configuring writes the widget-free library's source list.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DORVIK_BENCH=ON >/dev/null || failed_checks+=(cmake)
if [ -f build/orvik_base_sources.txt ]; then
  scripts/check-base-includes build/orvik_base_sources.txt || failed_checks+=(check-base-includes)
else
  echo "check-base-includes: no orvik_base in this build"
fi
[ ${#failed_checks[@]} -eq 0 ] || echo "==== checks failed: ${failed_checks[*]}"
stage_done "checks"

stage "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DORVIK_BENCH=ON
cmake --build build -j "$jobs"
stage_done "build"

stage "tests"
ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs"
stage_done "tests"

if [ "${ORVIK_SKIP_SANITIZE:-0}" != 1 ]; then
  stage "ASan+UBSan build and tests"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON -DORVIK_BENCH=OFF -DBUILD_TESTING=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --no-tests=error --output-on-failure -j "$jobs" -E '^(tst_soak)$'
  # The soak samples the resident size, which the sanitizers' own bookkeeping would drown;
  # the scenario tests judge the retry gaps on the line in the plain build only.
  stage_done "ASan+UBSan build and tests"
fi

if [ "${ORVIK_SKIP_TSAN:-0}" != 1 ]; then
  stage "ThreadSanitizer build and journal thread test"
  CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_BENCH=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
  cmake --build build-tsan -j "$jobs" --target tst_journal_thread
  # Qt itself is not instrumented: the suppressions name only Qt's frames.
  QT_NO_GLIB=1 TSAN_OPTIONS="suppressions=$root/tests/journal/tsan.supp halt_on_error=1" \
    ctest --test-dir build-tsan --no-tests=error --output-on-failure -R '^tst_journal_thread$'
  stage_done "ThreadSanitizer build and journal thread test"
fi

if [ "${ORVIK_SKIP_FUZZ:-0}" != 1 ] && compgen -G "tests/fuzz/fuzz_*.cpp" >/dev/null; then
  stage "fuzz targets"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVIK_FUZZ=ON -DORVIK_FUZZ_SECONDS="${ORVIK_FUZZ_SECONDS:-60}"
  # The targets link the widget-free library only: nothing else needs the instrumented build.
  cmake --build build-fuzz -j "$jobs" --target $(basename -s .cpp tests/fuzz/fuzz_*.cpp)
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
    ctest --test-dir build-fuzz --no-tests=error --output-on-failure -L fuzz -j "$jobs"
  stage_done "fuzz targets"
fi

echo
if [ ${#failed_checks[@]} -ne 0 ]; then
  echo "==== checks failed (${failed_checks[*]}); the other stages passed in $(( $(date +%s) - total_start )) s"
  exit 1
fi
echo "==== all stages passed in $(( $(date +%s) - total_start )) s"
