#!/usr/bin/env bash
# Runs the fuzz target for SECONDS, growing a corpus in $FUZZ_WORK (default /tmp/vemtool-fuzz)
# from the committed one; findings go to its artifacts/, the job's log to its fuzz-0.log:
#   fuzz/run.sh BUILD_DIR SECONDS [libFuzzer options...]
set -euo pipefail
build=$(realpath "$1") seconds=$2 corpus=$(realpath "$(dirname "$0")")/corpus work=${FUZZ_WORK:-/tmp/vemtool-fuzz}
shift 2
mkdir -p "$work/corpus" "$work/artifacts" && cd "$work"
exec nice -n 19 "$build/fuzz/fuzzer" -max_total_time="$seconds" -max_len=16384 -jobs=1 -workers=1 \
  -close_fd_mask=2 -print_final_stats=1 -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "$corpus"
