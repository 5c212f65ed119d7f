#!/usr/bin/env bash
# Builds every test with AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan) and with ThreadSanitizer (build-tsan) and runs the whole suite
# under each, the stress test for a full minute. Fails on any failed test and
# on any sanitizer report, also one from a child process (the simulator, the
# program) whose output no test shows. See docs/sanitizers.md.
#
#   bash tools/sanitize.sh [asan|tsan|all]      (default: all)
#
# QR7215_STRESS_SECONDS (default 60) sets how long the stress test drives the
# window; QR7215_SANITIZE_JOBS (default: number of cores) the build and test jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

what=${1:-all}
case "$what" in
  asan) stages=(asan) ;;
  tsan) stages=(tsan) ;;
  all) stages=(asan tsan) ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac

jobs=${QR7215_SANITIZE_JOBS:-$(nproc)}
export QT_QPA_PLATFORM=offscreen
export QR7215_STRESS_SECONDS=${QR7215_STRESS_SECONDS:-60}
# The program draws no OpenGL. On a real X server (the xvfb test) Qt would
# still load Mesa's GLX driver, whose one-time set-up LeakSanitizer reports
# once the driver is unloaded at exit, where no suppression can name it.
export QT_XCB_GL_INTEGRATION=none

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# The 30 s script time-out test only waits; it exercises nothing a
# sanitizer could see that the other script runner tests do not.
exclude_labels=slow

status=0
summary=()

run_stage() {
  local name=$1 sanitizers=$2
  local build=$root/build-$name
  local logs=$build/sanitizer-logs
  local started=$SECONDS

  echo "==> $name: configure and build ($sanitizers)"
  # -O1 keeps the stacks readable and the build quick; no NDEBUG, so
  # assertions stay in. Warnings are the normal build's business: some
  # sanitizer instrumentation makes GCC warn where plain code does not.
  # The sanitizers' run-time options below are GCC's. A compiler given with
  # -D to an existing tree would make CMake drop the whole cache, the
  # sanitizer option with it; CC and CXX are read only by a first configure,
  # so a tree made with another compiler starts afresh.
  if [ -f "$build/CMakeCache.txt" ] && ! grep -qs 'CMAKE_CXX_COMPILER_ID "GNU"' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    rm -rf "$build"
  fi
  CC=gcc CXX=g++ cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DQR7215_SANITIZE="$sanitizers" \
    -DQR7215_WERROR=OFF >/dev/null
  if ! grep -q -- "-fsanitize=" "$build/build.ninja"; then
    echo "==> $name: the build does not use -fsanitize; QR7215_SANITIZE did not reach it" >&2
    exit 1
  fi
  cmake --build "$build" -j"$jobs"
  local built=$((SECONDS - started))

  # Every process writes its reports to a file of its own here, so a report
  # from a child process is not lost in a pipe nobody reads.
  rm -rf "$logs"
  mkdir -p "$logs"

  if [ "$(ctest --test-dir "$build" -N -L stress | grep -c 'Test *#')" -eq 0 ]; then
    echo "==> $name: no test labelled stress is registered (tests/stress missing from tests/CMakeLists.txt?)" >&2
    status=1
  fi

  echo "==> $name: ctest (-LE $exclude_labels, stress test ${QR7215_STRESS_SECONDS} s)"
  local rc=0
  (
    if [ "$name" = asan ]; then
      export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_invalid_pointer_pairs=0:log_path=$logs/asan:log_exe_name=1"
      export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan:log_exe_name=1"
    else
      export TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:history_size=7:ignore_noninstrumented_modules=1:suppressions=$root/tools/tsan.supp:print_suppressions=0:log_path=$logs/tsan:log_exe_name=1"
    fi
    ctest --test-dir "$build" -LE "$exclude_labels" -j"$jobs" --output-on-failure --timeout 300
  ) || rc=$?
  local ran=$((SECONDS - started - built))

  local reports
  reports=$(find "$logs" -type f | sort)
  if [ -n "$reports" ]; then
    echo "==> $name: sanitizer reports"
    for f in $reports; do
      echo "---- $f"
      cat "$f"
    done
    rc=1
  fi
  summary+=("$name: build ${built} s, tests ${ran} s, $( [ $rc -eq 0 ] && echo clean || echo FAILED )")
  [ $rc -eq 0 ] || status=1
}

for stage in "${stages[@]}"; do
  case "$stage" in
    asan) run_stage asan "address;undefined" ;;
    tsan) run_stage tsan "thread" ;;
  esac
done

printf '%s\n' "${summary[@]}"
exit $status
