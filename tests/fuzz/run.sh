#!/usr/bin/env bash
# The native checking run: builds the pure modules, their unit tests and the
# fuzz targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# (QB_FUZZ), runs the unit tests and the seed replays with ctest, then runs
# each fuzz target for a bounded time on its seed corpus. Any sanitizer
# report, failed property or crash fails the run; the input that did it is
# kept under <build>/fuzz-artifacts.
#
#   QB_FUZZ_BUILD    build directory (default <repo>/build-native-fuzz)
#   QB_FUZZ_SECONDS  seconds per target (default 20)
#   QB_JOBS          parallel builds and targets (default 2)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${QB_FUZZ_BUILD:-$root/build-native-fuzz}"
seconds="${QB_FUZZ_SECONDS:-20}"
jobs="${QB_JOBS:-2}"
targets=(outbox_record spool_entry service_answer settings_document host_text account_directory observation_note)

if ! command -v clang++ >/dev/null 2>&1 ||
   ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep -q /; then
  echo "fuzz: SKIPPED: clang or libclang-rt is not installed (scripts/setup-deps installs clang and libclang-rt-14-dev)"
  exit 0
fi

start=$SECONDS
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQB_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j"$jobs"
echo "fuzz: native sanitizer build took $((SECONDS - start)) s"

symbolizer="$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)"
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

(cd "$build" && ctest -j"$jobs" --output-on-failure --timeout 300)

# Each target grows a working corpus inside the build tree from the seeds; the
# checked-in seeds are only read.
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
run_target() {
  local name="$1" work="$build/fuzz-corpus/$1"
  mkdir -p "$work"
  "$build/tests/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 -artifact_prefix="$artifacts/$name-" "$work" "$root/tests/fuzz/corpus/$name" \
    >"$build/fuzz-$name.log" 2>&1
}

passed=0
failed=()
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  pids=()
  batch=("${targets[@]:i:jobs}")
  for name in "${batch[@]}"; do
    run_target "$name" &
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    name="${batch[$k]}"
    if wait "${pids[$k]}"; then
      passed=$((passed + 1))
      echo "fuzz: $name: $(grep -E '^Done [0-9]+ runs' "$build/fuzz-$name.log" | tail -1)"
    else
      failed+=("$name")
      echo "fuzz: $name FAILED; its log, $build/fuzz-$name.log, ends:"
      tail -40 "$build/fuzz-$name.log"
    fi
  done
done
echo "fuzz: whole step took $((SECONDS - start)) s"
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]
