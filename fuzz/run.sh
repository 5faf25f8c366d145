#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: fuzz/run.sh BUILD_DIR SECONDS [TARGET]
# Seeds: the sample machines for the loader, the real firmware tables for the
# SMBIOS targets, fuzz/seeds/TARGET/ for the rest. Findings (crashing inputs)
# are written to BUILD_DIR/findings and fail the run.
set -euo pipefail
build=$(cd "$1" && pwd) seconds=$2 only=${3:-}  # absolute: a target may change its current folder
here=$(cd "$(dirname "$0")" && pwd)
shared=$here/../../shared/testdata/smbios
mkdir -p "$build/findings"
status=0
for exe in "$build"/fuzz/fuzz_*; do
  t=$(basename "$exe")
  [ -n "$only" ] && [ "$t" != "$only" ] && continue
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  case $t in
    fuzz_machine|fuzz_exports) seeds=("$here"/../machines/*.json) ;;
    fuzz_smbios*) seeds=("$shared"/*.dmi) ;;
    *) seeds=("$here"/seeds/"$t"/*) ;;
  esac
  for s in "${seeds[@]}"; do [ -f "$s" ] && cp -n "$s" "$corpus/" ; done
  echo "== $t: $seconds s"
  if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/findings/$t-" "$corpus" \
      > "$build/$t.log" 2>&1; then
    echo "$t: FINDING (see $build/$t.log and $build/findings)"; tail -30 "$build/$t.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|cov:' "$build/$t.log" | tail -2
  fi
done
exit $status
