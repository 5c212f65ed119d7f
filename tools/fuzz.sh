#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang-14 and the address and
# undefined-behaviour sanitizers (build-fuzz/), and runs each one for a
# bounded time, one after the other, on a scratch copy of its seed corpus
# (fuzz/corpus/<target>/ is only read; fuzz/dict/<target>.dict, where there
# is one, lists the words of its input). Fails on any crash, hang, leak or
# sanitizer report; the input behind it is kept in
# build-fuzz/fuzz-findings/<target>/.
#
#   tools/fuzz.sh [--ci] [SECONDS] [TARGET...]
#
# SECONDS per target: the argument, else $FUZZ_SECONDS, else 60 (10 with
# --ci or when CI=true). TARGETs: fuzz_* names; all of them when none given.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

ci=false
[ "${CI:-}" = true ] && ci=true
if [ "${1:-}" = --ci ]; then ci=true; shift; fi
default_seconds=60
$ci && default_seconds=10
seconds=${FUZZ_SECONDS:-$default_seconds}
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi

# Longest input each target is given: a little above what its real input
# ever needs, so the time goes into shapes rather than sheer size.
declare -A max_len=(
  [fuzz_comsettingsfile]=4096
  [fuzz_registertable]=16384
  [fuzz_portnumber]=256
  [fuzz_simcommand]=256
  [fuzz_simframes]=2048
  [fuzz_sdkanswer]=300
)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_comsettingsfile fuzz_registertable fuzz_portnumber fuzz_simcommand fuzz_simframes fuzz_sdkanswer)
for t in "${targets[@]}"; do
  [ -n "${max_len[$t]:-}" ] || { echo "fuzz.sh: unknown target $t" >&2; exit 2; }
done

bash tools/install-deps.sh

build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DQR7215_FUZZ=ON \
  "-DCMAKE_C_FLAGS=$sanitize" "-DCMAKE_CXX_FLAGS=$sanitize" >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Files the targets write go to memory, into a folder removed at the end.
scratch=$(mktemp -d /dev/shm/qr7215-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QR7215_FUZZ_SCRATCH=$scratch

failed=0
summary=()
for t in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$t
  findings=$build/fuzz-findings/$t
  log=$build/fuzz-logs/$t.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  cp -n "$root/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: $seconds s, inputs up to ${max_len[$t]} bytes"
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  rc=0
  "$build/fuzz/$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" "$corpus" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  if [ $rc -ne 0 ]; then
    failed=$((failed + 1))
    echo "   FAILED (exit $rc): see $log and $findings/"
    grep -E "ERROR|SUMMARY|runtime error|Deadly signal|Test unit written" "$log" | head -5 | sed 's/^/   /'
    summary+=("$(printf '%-22s FAILED' "$t")")
  else
    summary+=("$(printf '%-22s %12s runs in %4s s, corpus %5s inputs' "$t" "${runs:-?}" "${took:-?}" "$files")")
  fi
done

echo
echo "fuzz summary ($seconds s per target):"
printf '  %s\n' "${summary[@]}"
echo "fuzz: $(( ${#targets[@]} - failed )) passed, $failed failed"
[ $failed -eq 0 ]
