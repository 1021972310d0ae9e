#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh          plain build (build/default), every test, the installed tree too
#   scripts/test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer, every test but the
#                            installed tree (no guide, man pages or package files)
#   scripts/test.sh tsan     ThreadSanitizer, every test that does not load Qt
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-default}"

./scripts/setup.sh

jobs="$(nproc)"
case "$kind" in
  default) flags=(-DKELVRA_WERROR=ON); ctest_args=() ;;
  asan)    flags=(-DKELVRA_SANITIZE=address -DKELVRA_BENCH=OFF -DKELVRA_DOCS=OFF); ctest_args=() ;;
  tsan)    flags=(-DKELVRA_SANITIZE=thread -DKELVRA_BENCH=OFF -DKELVRA_DOCS=OFF); ctest_args=(-LE qt) ;;
  *) echo "usage: $0 [default|asan|tsan]" >&2; exit 2 ;;
esac

build="build/$kind"
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 "${ctest_args[@]}"
