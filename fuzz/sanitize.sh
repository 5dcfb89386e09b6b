#!/usr/bin/env bash
# Builds the whole project and its test suite with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs every test. Then builds
# the engine's own tests and the command-line tool (no Qt) with
# ThreadSanitizer in build-tsan/ and runs them, which covers conversions on
# several threads at once, in the engine and in the tool's --jobs. Any sanitizer
# report ends the process that made it, so it fails its test.
#
#   fuzz/sanitize.sh [extra cmake arguments]
#   environment: BUILD_DIR (build-asan), TSAN_BUILD_DIR (build-tsan), JOBS (2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-asan}
tsan_build=${TSAN_BUILD_DIR:-$root/build-tsan}
jobs=${JOBS:-2}
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

# Also set while building: test discovery runs the test binaries.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

CMAKE_GENERATOR=Ninja cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBOOLCONV_WERROR=ON -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" "$@" >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

# ThreadSanitizer cannot be combined with AddressSanitizer: a tree of its own,
# with just the engine, the tool and their tests.
tsan_flags="-fsanitize=thread -fno-omit-frame-pointer"
tsan_tests=(textfuncs/funclib_test conversion/boolfuncs_test cli/cli_test)
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:abort_on_error=1}
CMAKE_GENERATOR=Ninja cmake -S "$root" -B "$tsan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBOOLCONV_WERROR=ON -DBOOLCONV_BUILD_UI=OFF \
  -DBOOLCONV_CLI_HUGE_PAGES=OFF -DCMAKE_CXX_FLAGS="$tsan_flags" -DCMAKE_EXE_LINKER_FLAGS="$tsan_flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$tsan_flags" >/dev/null
cmake --build "$tsan_build" -j"$jobs" --target "${tsan_tests[@]##*/}" boolconv-cli
for test in "${tsan_tests[@]}"; do
  "$tsan_build/$test" --gtest_brief=1
done
