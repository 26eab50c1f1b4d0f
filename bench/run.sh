#!/usr/bin/env bash
# Measures the costs that matter for scripted use of vemtool on the largest
# images: system calls of the image rewrites, time against cp of the same
# image, and peak memory. Prints a table; it asserts nothing.
#
#   bench/run.sh [build-dir]    (default: build-bench, configured Release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" --target vemtool -j2 >/dev/null
for tool in strace /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench needs $tool (apt-get install strace time)"; exit 1; }
done
vem=$build/vemtool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

runs=${BENCH_RUNS:-50}
# Mean wall time of a command over $runs runs, in milliseconds; with
# "--prepare CMD" that command runs before each timed run, untimed.
mean_ms() {
  local prepare=""
  if [ "$1" = --prepare ]; then prepare=$2; shift 2; fi
  local total=0 start end
  for _ in $(seq $runs); do
    [ -z "$prepare" ] || eval "$prepare"
    start=${EPOCHREALTIME/./}
    "$@" >/dev/null 2>&1
    end=${EPOCHREALTIME/./}
    total=$((total + end - start))
  done
  awk -v t=$total -v n=$runs 'BEGIN { printf "%.2f", t / n / 1e3 }'
}
# write + pwrite64 + lseek calls of one run.
io_calls() {
  strace -f -c -e trace=write,pwrite64,lseek -o strace.out "$@" >/dev/null 2>&1 || true
  awk '$NF ~ /^(write|pwrite64|lseek)$/ { n += $4 } END { print n + 0 }' strace.out
}
all_calls() {
  strace -f -c -o strace.out "$@" >/dev/null 2>&1 || true
  awk '$NF == "total" { print $4 }' strace.out
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

row() { printf '%-44s %12s\n' "$1" "$2"; }

"$vem" big.vem -ic -is 8192 -id 256 >/dev/null
row "command (8192 kB image)" "value"
row "-ic: write+pwrite64+lseek calls" "$(io_calls "$vem" big.vem -ic -is 8192 -id 256)"
ic_ms=$(mean_ms "$vem" big.vem -ic -is 8192 -id 256)
empty_cp_ms=$(mean_ms cp big.vem copy.vem)
row "-ic: mean ms" "$ic_ms"
row "cp of the image: mean ms" "$empty_cp_ms"
row "  ratio to cp" "$(awk -v a="$ic_ms" -v b="$empty_cp_ms" 'BEGIN { printf "%.2f", a / b }')"

# An image of about 150 files for the rebuild and the add.
head -c 40000 /dev/urandom > file.bin
for i in $(seq 1 150); do "$vem" big.vem -fa file.bin -fn "F$i.B" >/dev/null; done
cp big.vem full.vem
cp_ms=$(mean_ms cp full.vem copy.vem)
row "cp of the 150-file image: mean ms" "$cp_ms"
row "-ir rebuild (150 files): io calls" "$(cp full.vem big.vem && io_calls "$vem" big.vem -ir -is 8192 -id 252)"
ir_ms=$(mean_ms --prepare "cp full.vem big.vem" "$vem" big.vem -ir -is 8192 -id 252)
row "-ir rebuild (150 files): mean ms" "$ir_ms"
row "  ratio to cp" "$(awk -v a="$ir_ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')"

head -c 65535 /dev/urandom > add.bin
row "-fa 65535 bytes (150 files): io calls" "$(cp full.vem big.vem && io_calls "$vem" big.vem -fa add.bin)"
fa_ms=$(mean_ms --prepare "cp full.vem big.vem" "$vem" big.vem -fa add.bin)
row "-fa 65535 bytes (150 files): mean ms" "$fa_ms"
row "  ratio to cp" "$(awk -v a="$fa_ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')"
row "peak kB, -fa into 8192 kB image" "$(cp full.vem big.vem && peak_kb "$vem" big.vem -fa add.bin)"
row "peak kB, -ir rebuild 8192 kB image" "$(cp full.vem big.vem && peak_kb "$vem" big.vem -ir -is 8192 -id 252)"
row "peak kB, -c of 8192 kB image" "$(peak_kb "$vem" full.vem -c)"

# Extraction of 200 files: system calls per extracted file.
"$vem" x.vem -ic -is 8192 -id 256 >/dev/null
head -c 3000 /dev/urandom > small.bin
for i in $(seq 1 200); do "$vem" x.vem -fa small.bin -fn "X$i.B" >/dev/null; done
mkdir out
base=$(all_calls "$vem" x.vem -fx 'out/NOMATCH.Z')
total=$(all_calls "$vem" x.vem -fx 'out/*')
row "-fx * of 200 files: all system calls" "$total"
row "  without extracting (no match)" "$base"
row "  per extracted file" "$(awk -v a="$total" -v b="$base" 'BEGIN { printf "%.1f", (a - b) / 200 }')"
