#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, checks that every include follows the folder
# layers and that every C and C++ file is formatted, builds Pellux and runs every test:
#   1. an optimised build and the whole test suite, the checks that need a window
#      manager (Xvfb and twm), and the window driven as a person would,
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. the archive reader's, extraction's and our own decoders' fuzz targets, each for a
#      bounded time,
#   4. the Debian package: built, installed with apt, used and removed again.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/install-deps.sh
JOBS=$(nproc)
FUZZ_SECONDS=${PELLUX_FUZZ_SECONDS:-45} # per target
DECODER_FUZZ_SECONDS=${PELLUX_DECODER_FUZZ_SECONDS:-30} # our own decoders, one target

echo "== folder layers"
bash scripts/check-layers.sh

echo "== format"
# Every C and C++ file as .clang-format has it; names each file that is not.
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

echo "== release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLUX_BUILD_TESTS=ON >/dev/null
ninja -C build/release -j"$JOBS"
ctest --test-dir build/release --output-on-failure -j"$JOBS"

echo "== window-manager checks on Xvfb"
# Each on a server of its own: the status window must not start from a frame learnt
# by an earlier window.
bash scripts/with-xvfb-wm.sh build/release/bin/dialogs_tests \
  --gtest_filter='StatusWindow.FramedOuterSizeHoldsWhileTheCallerIsBusy'
bash scripts/with-xvfb-wm.sh build/release/bin/main_window_tests \
  --gtest_filter='WindowTest.FramedWindowKeepsItsOuterSize:WindowTest.*Startup*'

echo "== the window driven by keyboard and mouse on Xvfb"
bash scripts/gui-smoke.sh build/release

echo "== sanitizer build and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLUX_BUILD_TESTS=ON \
  -DPELLUX_SANITIZE=address,undefined >/dev/null
ninja -C build/asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp \
  ctest --test-dir build/asan --output-on-failure -j"$JOBS"

echo "== 32-bit layout of the library parameter blocks"
# The static_asserts in these headers only bite on a 32-bit build.
for header in abi/ZipCallback.h abi/PxZip.h abi/PxUnz.h; do
  echo "#include \"$header\"" | g++ -m32 -std=c++20 -Wall -Wextra -Wpedantic -Werror -I. -fsyntax-only -x c++ -
done

echo "== fuzzing the archive reader and extraction for ${FUZZ_SECONDS}s each"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELLUX_FUZZ=ON -DPELLUX_BUILD_GUI=OFF -DPELLUX_BUILD_TESTS=OFF >/dev/null
ninja -C build/fuzz -j"$JOBS" fuzz_list_reader fuzz_extract fuzz_decoders
# -handle_xfsz=0: extraction's target caps the size of a file and ignores SIGXFSZ, so
# that a bomb ends in a failed write, as on a full disk; libFuzzer would count it a crash.
for target in list_reader extract; do
  mkdir -p "build/fuzz/corpus-$target"
  "build/fuzz/bin/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -max_len=4096 -timeout=10 -handle_xfsz=0 \
    "build/fuzz/corpus-$target" tests/fuzz/regressions 2>&1 | tail -n 3
done
mkdir -p build/fuzz/corpus-decoders
build/fuzz/bin/fuzz_decoders -max_total_time="$DECODER_FUZZ_SECONDS" -max_len=8192 -timeout=10 \
  build/fuzz/corpus-decoders 2>&1 | tail -n 3

echo "== the Debian package: build, apt-get install, run, apt-get remove"
# The release tree's own install into a temporary prefix ran with its tests above
# (InstalledTree.RunsFromItsPrefixAndValidates).
bash scripts/check-deb.sh build/release
