#!/usr/bin/env bash
# Runs one fuzz target for a time, growing a working corpus outside the repo
# from the committed one:
#   fuzz/run.sh BUILD_DIR TARGET SECONDS [libFuzzer options...]
# TARGET is image, complex_name, options or list. New inputs go to
# $FUZZ_WORK (default /tmp/vemtool-fuzz/TARGET), findings to its artifacts/,
# libFuzzer's log of the job to its fuzz-0.log.
set -euo pipefail
build="$(cd "$1" && pwd)"
target="$2"
seconds="$3"
shift 3
here="$(cd "$(dirname "$0")" && pwd)"
work="${FUZZ_WORK:-/tmp/vemtool-fuzz/$target}"
mkdir -p "$work/corpus" "$work/artifacts"
cd "$work"
max_len=4096
[ "$target" = image ] && max_len=16384
exec nice -n 19 "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" \
  -jobs=1 -workers=1 -close_fd_mask=2 -print_final_stats=1 -rss_limit_mb=2048 \
  -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "$here/corpus/$target"
