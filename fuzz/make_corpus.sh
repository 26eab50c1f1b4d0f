#!/usr/bin/env bash
# Makes the seed corpus of the fuzz targets with the tool's own commands:
#   fuzz/make_corpus.sh BUILD_DIR OUT_DIR
# BUILD_DIR holds vemtool and its data files. Images are cut after their last
# file so each seed stays a few kB; the tool reads them as they are and
# writing commands fill them out to their full size.
set -euo pipefail
tool="$(cd "$1" && pwd)/vemtool"
out="$(mkdir -p "$2" && cd "$2" && pwd)"
mkdir -p "$out/image" "$out/list" "$out/complex_name" "$out/options"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

vem() { "$tool" "$@" >/dev/null; }
# Writes the bytes given in hex at a byte offset of a file, in place.
poke() { printf "$(printf '%s' "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
keep() { head -c "$2" "$1" >"$out/image/$3"; }

printf 'file data %03d\n' $(seq 1 14) >a.bin
printf x >one.bin
: >empty.bin
printf 'code' >"CODE_Code#20part_0x4000_2.C"

vem empty.vem -ic -is 32 -id 4
keep empty.vem 1024 empty

vem files.vem -ic -is 32 -id 8
vem files.vem -fa a.bin -ln "Long name" -sa 0x4000 -al
vem files.vem -fa empty.bin -fn EMPTY.E
vem files.vem -fa one.bin -psc -ar
vem files.vem -fc "CODE_Code#20part_0x4000_2.C"
keep files.vem 2048 files

cp files.vem loader.vem
vem loader.vem -ml LOADER.L A.B CODE.C -mon 2X -scs -sa 0x8000
keep loader.vem 3072 loader

# By hand: a hole in the directory and its data (slot 0 freed in place).
cp files.vem hole.vem
poke hole.vem 128 e5
keep hole.vem 2048 hole
# By hand: two files sharing their data, and a file that ends past the image.
cp files.vem overlap.vem
poke overlap.vem 201 0300
poke overlap.vem 237 ffff
keep overlap.vem 2048 overlap
# By hand: lower-case, a '/' and a point in stored names.
cp files.vem names.vem
poke names.vem 129 612f2e62
keep names.vem 2048 names

vem full.vem -ic -is 32 -id 4
for n in 1 2 3 4; do vem full.vem -fa one.bin -fn "F$n.B"; done
keep full.vem 1024 full

mkdir x
vem files.vem -fx "x/*" -cfn -cfnl x/list.txt
cp x/list.txt "$out/list/extracted"
printf './GAME_My#20Game_32768_1.B\n  EMPTY___.X  \n\nSECTOR_Long#5Fname#23_0x8000_3.D\n' >"$out/list/hosts"
printf 'plain.bin\nGAME_My#20Game_32768_1.B\nGAME_My#20Game_32768_1.B\n' >"$out/list/bad"
i=0
for name in x/*_*; do
  i=$((i + 1))
  printf '%s' "${name#x/}" >"$out/complex_name/built$i"
done
printf 'GAME___.B' >"$out/complex_name/plain"
printf 'dir/sub\\A#5fB_#00x_0100_255.#7E' >"$out/complex_name/escapes"
dd if=files.vem of="$out/complex_name/slot" bs=32 skip=4 count=1 status=none

opts() { printf '%s\0' "$@" | head -c -1 >"$out/options/$1"; }
opts ic img.vem -ic -is 8192 -id 256 -ib boot.bin
opts fa img.vem -fa a.bin -fn A.B -ln "Long name" -sa 0x4000 -al -ar -ow -psc
opts fx img.vem -fx "out/*" -cfn -cfnl list.txt
opts ml img.vem -ml LOADER.L A.B C.D -mon 2X -scs -sa 0x8000 -ow
opts fp img.vem -fp A.B -fn B.C -ln x -sa 65535 -al -ar
opts c img.vem -c "?A*.B"
opts li img.vem -li LOADER.L
