#!/usr/bin/env bash
# Times the image check and repair on a full 8192 kB image of 256 files with
# hyperfine: -iv against -c of the same image (target: at most 2x), and
# -iv -fix of it, with one free sector damaged, against an -ir that rebuilds
# it (target: at most 2x). Prints hyperfine's tables and the two ratios.
#
#   bench/check.sh [build-dir]    (default: build-bench, configured Release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" --target vemtool -j2 >/dev/null
command -v hyperfine >/dev/null || { echo "bench needs hyperfine (apt-get install hyperfine)"; exit 1; }
vem=$build/vemtool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
runs=${BENCH_RUNS:-30}

# 256 files of 32600 bytes (255 sectors each, tails of 0xFF): 24448 bytes stay free.
"$vem" full.vem -ic -is 8192 -id 256 >/dev/null
for i in $(seq 1 256); do
  head -c 32600 /dev/urandom >file.bin
  "$vem" full.vem -fa file.bin -fn "F$i.B" >/dev/null
done
"$vem" full.vem -iv >/dev/null  # clean: status 0
# The same image with one byte of its last free sector damaged: a repair rebuilds it.
cp full.vem damaged.vem
printf 'x' | dd of=damaged.vem bs=1 seek=$((8388608 - 1)) conv=notrunc status=none
# A Booter one sector longer: -ir rebuilds the whole image with it.
head -c 200 "$build/vem-boot.bin" >boot2.bin
head -c $((200 - $(stat -c %s boot2.bin))) /dev/zero >>boot2.bin

# Median of the n-th command (0-based) of the last hyperfine run, in seconds.
median() { awk -F, -v row=$(($1 + 2)) 'NR == row { print $4 }' times.csv; }
hyperfine -N --warmup 5 --runs "$runs" --export-csv times.csv \
  "$vem full.vem -c" "$vem full.vem -iv"
check_ratio=$(awk -v a="$(median 1)" -v b="$(median 0)" 'BEGIN { printf "%.2f", a / b }')
hyperfine --warmup 3 --runs "$runs" --export-csv times.csv \
  --prepare "cp full.vem img.vem; rm -f img.vem.tmp" "$vem img.vem -ir -is 8192 -id 256 -ib boot2.bin" \
  --prepare "cp damaged.vem img.vem; rm -rf img.vem.bak img.vem.salvage" "$vem img.vem -iv -fix"
repair_ratio=$(awk -v a="$(median 1)" -v b="$(median 0)" 'BEGIN { printf "%.2f", a / b }')
printf '%-44s %8s\n' "-iv / -c (medians, target <= 2)" "$check_ratio"
printf '%-44s %8s\n' "-iv -fix / -ir (medians, target <= 2)" "$repair_ratio"
