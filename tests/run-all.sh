#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the ordinary build,
# the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, and
# each fuzz target for a bounded time. Needs root (network and mount
# namespaces). QOR_FUZZ_SECONDS sets the time per fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QOR_TEST_JOBS:-8}
fuzz_seconds=${QOR_FUZZ_SECONDS:-45}

"$root/tests/deps.sh"

build() {  # build <dir> <cmake options...>
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

status=0
build "$root/build/release"
ctest --test-dir "$root/build/release" -j "$jobs" --output-on-failure || status=1

build "$root/build/asan" -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build/asan" -j "$jobs" --output-on-failure || status=1

CC=clang CXX=clang++ build "$root/build/fuzz" -DQOR_FUZZ=ON -DQOR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$root/fuzz/run-fuzzers.sh" "$root/build/fuzz" "$fuzz_seconds" || status=1

if ((status == 0)); then echo "all test stages passed"; else echo "some test stage failed"; fi
exit $status
