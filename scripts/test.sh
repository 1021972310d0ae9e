#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh          plain build (build/default), every test, the installed tree too
#   scripts/test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer, every test but the
#                            installed tree (no guide, man pages or package files)
#   scripts/test.sh tsan     ThreadSanitizer, every test that does not load Qt
#   scripts/test.sh fuzz     clang with libFuzzer: each fuzz target for KELVRA_FUZZ_SECONDS (20)
#                            from its seed corpus in tests/fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-default}"

./scripts/setup.sh

jobs="$(nproc)"
case "$kind" in
  default) flags=(-DKELVRA_WERROR=ON); ctest_args=() ;;
  asan)    flags=(-DKELVRA_SANITIZE=address -DKELVRA_BENCH=OFF -DKELVRA_DOCS=OFF); ctest_args=() ;;
  tsan)    flags=(-DKELVRA_SANITIZE=thread -DKELVRA_BENCH=OFF -DKELVRA_DOCS=OFF); ctest_args=(-LE qt) ;;
  fuzz)    flags=(-DKELVRA_SANITIZE=fuzz -DKELVRA_BENCH=OFF -DKELVRA_DOCS=OFF -DCMAKE_C_COMPILER=clang-14
                  -DCMAKE_CXX_COMPILER=clang++-14) ;;
  *) echo "usage: $0 [default|asan|tsan|fuzz]" >&2; exit 2 ;;
esac

if [ "$kind" = fuzz ]; then
  build="build/fuzz"
  cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$build" -j "$jobs" --target fuzzers
  export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  for corpus in tests/fuzz/corpus/*/; do
    name="$(basename "$corpus")"
    # A scratch copy grows; the committed seeds stay as they are.
    mkdir -p "$work/$name" "$work/artifacts"
    cp "$corpus"/* "$work/$name/"
    echo "fuzzing $name for ${KELVRA_FUZZ_SECONDS:-20} s"
    status=0
    "$build/tests/fuzz/fuzz_$name" -max_total_time="${KELVRA_FUZZ_SECONDS:-20}" -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" "$work/$name" >"$work/$name.log" 2>&1 || status=$?
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|Done|SUMMARY)|cov: .*ft:" "$work/$name.log" | tail -4
    if [ "$status" -ne 0 ]; then
      tail -40 "$work/$name.log" >&2
      echo "fuzz_$name failed (status $status); the input is kept in $work/artifacts" >&2
      trap - EXIT
      exit 1
    fi
  done
  exit 0
fi

build="build/$kind"
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 "${ctest_args[@]}"
