#!/usr/bin/env bash
# A short run of a benchmark script, so that a change which breaks a benchmark fails the tests:
# small shares, one round, every loopback acknowledgement mode the machine allows (the window's
# paced run keeps its 24 files: more rows than the list shows, and its length is set by the
# pacing, not the sizes). Passes when
# the script ends with 0, prints its table with a row for every client and mode, writes it to a
# file of the build folder and leaves docs/benchmarks.md as it was. Speeds are not judged.
# usage: bench_smoke.sh REPO BUILD_DIR throughput|window
set -uo pipefail
repo=$1
build=$2
bench=$3
work="$build/bench-smoke/$bench"
rm -rf "$work"
mkdir -p "$work"
export BM_BENCH_OUT="$work/benchmarks.md"
docs="$repo/docs/benchmarks.md"
docs_before=$(sha256sum "$docs" 2>/dev/null)

fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

# Immediate acknowledgements need the road's own network namespace (root).
acks=(delayed)
if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
  acks+=(immediate)
else
  echo "bench smoke: no network namespace here, the loopback is measured with delayed acknowledgements only"
fi

# run_script LOG SCRIPT: runs a benchmark script, its output on the console and in LOG.
run_script() {
  local log=$1 script=$2 started rc
  started=$(date +%s)
  bash "$repo/scripts/$script" "$build" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  echo "bench smoke: $script ended with $rc after $(($(date +%s) - started)) s"
  [ "$rc" = 0 ] || fail "$script ended with exit code $rc"
}

# count_rows LOG PATTERN: table rows of the log that begin with PATTERN.
count_rows() { grep -c "^| $2" "$1"; }

case $bench in
  throughput)
    BM_BENCH_SHARES=12x2 BM_BENCH_REPEAT=1 BM_BENCH_ACKS="${acks[*]}" run_script "$work/out.log" bench-throughput.sh
    label="12 × 2 MiB"
    for mode in "${acks[@]}"; do
      for client in "aria2c.exe + minimal RPC client" "\*\*BrinemarchDownloader.exe\*\*" "curl (Linux)"; do
        [ "$(count_rows "$work/out.log" "$label | $mode | $client")" = 1 ] ||
          fail "the table has no row of $client ($mode acks) with figures"
      done
    done
    # The program's own cost: CPU per GiB, requests a second and private memory have figures.
    program_row=$(grep "^| $label | ${acks[0]} | \*\*BrinemarchDownloader.exe\*\*" "$work/out.log")
    for column in 12 13 15; do
      [[ $(cut -d'|' -f$((column + 1)) <<<"$program_row") =~ [0-9] ]] ||
        fail "the program's row has no figure in column $column: $program_row"
    done
    grep -q '^| share |.*| program CPU s per GiB | program requests/s |.*| program private MiB at end / peak |' \
      "$work/out.log" || fail "the table's head lacks the program's cost columns"
    grep -q '^<!-- begin throughput -->' "$BM_BENCH_OUT" || fail "no throughput section in $BM_BENCH_OUT"
    ;;
  window)
    for mode in "${acks[@]}"; do
      BM_BENCH_STARTS=1 BM_BENCH_FULL=12x2 BM_BENCH_ACKS=$mode \
        run_script "$work/$mode.log" bench-window.sh
      for figure in "start to window painted (median) | \*\*[0-9]" "start to ready (median) | \*\*[0-9]" \
        "start to window painted / to ready, port 7022 taken (median) | \*\*[0-9]" \
        "row-update latency" "last byte to 完成 (the engine.s check of the file included)" "program CPU per GiB" \
        "JSON-RPC requests to the engine per second | \*\*[0-9]" "peak memory of the program" \
        "private memory of the program (PagefileUsage) at the end, peak | \*\*[0-9]" \
        "a bare window under this Wine: .* | \*\*[0-9].*MiB\*\*, \*\*[0-9]* KiB"; do
        [ "$(count_rows "$work/$mode.log" "$figure")" = 1 ] || fail "the table has no row '$figure' ($mode acks)"
      done
    done
    grep -q '^<!-- begin window -->' "$BM_BENCH_OUT" || fail "no window section in $BM_BENCH_OUT"
    ;;
  *)
    fail "unknown benchmark $bench"
    ;;
esac
[ "$(sha256sum "$docs" 2>/dev/null)" = "$docs_before" ] || fail "the smoke run changed $docs"
echo "bench smoke: $bench passed; its table is in $BM_BENCH_OUT"
