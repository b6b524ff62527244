#!/usr/bin/env bash
# Runs the fuzz targets of a build configured with -DOVLAR_FUZZ=ON, each for
# a fixed time, as many at once as there are cores (FUZZ_JOBS to change
# that). Fails when any of them reports a crash, a leak, a hang, too much
# memory or a sanitizer finding; the input that did it is left in
# BUILD/fuzz-findings/NAME/. New inputs found on the way go to
# BUILD/fuzz-findings/NAME/corpus (kept for the next run), never into the
# seed corpus in the source tree.
#
#   tests/fuzz/run-fuzzers.sh BUILD [SECONDS_EACH [NAME...]]
#
# SECONDS_EACH defaults to 30; NAME is a target without its _fuzz, all of
# them by default.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ ! -d "$1/tests/fuzz" ]; then
  echo "usage: $0 BUILD [SECONDS_EACH [NAME...]]: BUILD is a build folder made with -DOVLAR_FUZZ=ON" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
if ! grep -q '^OVLAR_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "$0: $build was not configured with -DOVLAR_FUZZ=ON" >&2
  exit 2
fi

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for program in "$build"/tests/fuzz/*_fuzz; do
    [ -x "$program" ] && names+=("$(basename "$program" _fuzz)")
  done
fi
if [ ${#names[@]} -eq 0 ]; then
  echo "$0: no fuzz targets in $build/tests/fuzz (is it built?)" >&2
  exit 2
fi

# Leaks are checked after every input that allocated more than it freed;
# a sanitizer finding ends the run as a crash.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One target: its log and findings in BUILD/fuzz-findings/NAME*.
fuzz_one() {
  local name=$1
  local out="$build/fuzz-findings/$name"
  mkdir -p "$out/corpus"
  local options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256
                 -print_final_stats=1 -artifact_prefix="$out/")
  [ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
  rm -f "$out.status"
  "$build/tests/fuzz/${name}_fuzz" "${options[@]}" "$out/corpus" "$here/corpus/$name" >"$out.log" 2>&1
  echo $? >"$out.status"
}

# One line per target from libFuzzer's last status line and its statistics.
summary() {
  local name=$1 status=$2 log="$build/fuzz-findings/$1.log"
  local done runs rate
  done=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 | sed -E 's/^#[0-9]+[[:space:]]+DONE[[:space:]]+//')
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ "$status" -eq 0 ]; then
    printf '%-16s ok: %s runs in %s s (%s/s), %s\n' "$name" "${runs:-?}" "$seconds" "${rate:-?}" "${done:-?}"
  else
    printf '%-16s FAILED (status %s); the last lines of %s:\n' "$name" "$status" "$log"
    tail -n 40 "$log" | sed 's/^/    /'
    ls "$build/fuzz-findings/$name"/{crash,leak,timeout,oom,slow-unit}-* 2>/dev/null | sed 's/^/    input: /'
  fi
}

jobs=${FUZZ_JOBS:-$(nproc)}
started=()
failed=0
for name in "${names[@]}"; do
  if [ ! -x "$build/tests/fuzz/${name}_fuzz" ]; then
    echo "$0: no target $name in $build/tests/fuzz" >&2
    failed=1
    continue
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  fuzz_one "$name" &
  started+=("$name")
done
wait
for name in "${started[@]}"; do
  status=$(cat "$build/fuzz-findings/$name.status" 2>/dev/null || echo 1)
  summary "$name" "$status"
  [ "$status" -eq 0 ] || failed=1
done
exit $failed
