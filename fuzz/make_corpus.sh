#!/usr/bin/env bash
# Makes the seed corpus of the fuzz target with the tool's own commands; a
# seed's first byte is its kind (0 image, 1 complex name, 2 arguments, 3 list):
#   fuzz/make_corpus.sh BUILD_DIR OUT_DIR
set -euo pipefail
tool=$(realpath "$1")/vemtool out=$(mkdir -p "$2" && realpath "$2") work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
vem() { "$tool" "$@" >/dev/null; }
seed() { { printf "\\x$1" && cat; } >"$out/$2"; }
keep() { head -c "$2" "$1" | seed 00 "image-$1"; } # cut after the last file: writes fill it out
poke() { printf "$(printf '%s' "$3" | sed 's/../\\x&/g')" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; } # FILE AT HEX
printf 'file data %03d\n' $(seq 1 14) >a.bin && printf x >one.bin && : >empty.bin && printf c >"C_Code#20block_0x4000_2.C"
vem empty -ic -is 32 -id 4 && keep empty 1024
vem files -ic -is 32 -id 8 && vem files -fa a.bin -ln "Long name" -sa 0x4000 -al && vem files -fa empty.bin -fn E.E
vem files -fa one.bin -psc -ar && vem files -fc "C_Code#20block_0x4000_2.C" && keep files 2048
cp files loader && vem loader -ml LOADER.L A.B C.C -mon 2X -scs -sa 0x8000 && keep loader 3072
vem full -ic -is 32 -id 4 && for n in 1 2 3 4; do vem full -fa one.bin -fn "F$n.B"; done && keep full 1024
# By hand: a hole in the directory (slot 0 freed in place); two files sharing
# their data and a file that ends past the image; lower case, '/' and '.' in names.
cp files hole && cp files overlap && cp files names && poke hole 128 e5 && poke overlap 201 0300
poke overlap 237 ffff && poke names 129 612f2e62 && keep hole 2048 && keep overlap 2048 && keep names 2048
mkdir x && vem files -fx "x/*" -cfn -cfnl x/list.txt && seed 03 list-extracted <x/list.txt
for name in x/*_*; do printf '%s' "${name#x/}" | seed 01 "complex-${name#x/}"; done
printf 'dir/sub\\A#5fB_#00x_0100_255.#7E' | seed 01 complex-escapes
printf 'plain.bin\n  EMPTY___.X  \n\nSECTOR_Long#5Fname#23_0x8000_3.D\n' | seed 03 list-hosts
args() { printf '%s\0' "$@" | head -c -1 | seed 02 "arguments$2"; }
args img.vem -ic -is 8192 -id 256 -ib boot.bin && args img.vem -fx "out/*" -cfn -cfnl list.txt
args img.vem -fa a.bin -fn A.B -ln "Long name" -sa 0x4000 -al -ar -ow -psc && args img.vem -ml LOADER.L A.B C.D -mon 2X -scs -sa 0x8000 -ow
