#!/usr/bin/env bash
# vemtool.exe under Wine from end to end: every command once, and what is
# particular to Windows: the .\ prefix, refusing to extract over the image,
# reserved names escaped, backslash and drive paths, CR LF, 0x1A and a
# byte-order mark in a list, a Cyrillic file name, the pager and the code
# page at a console, an image another program holds open.
#   tests/windows/scenario.sh build-windows/vemtool.exe build-windows/probe.exe
#   (the data files beside vemtool.exe)
set -u
exe=$(realpath "$1")
WINE=${WINE:-wine}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/prefix}
"$WINE" wineboot -i >/dev/null 2>&1
mkdir "$work/run"
cp "$exe" "$(realpath "$2")" "$(dirname "$exe")"/{vem-boot,vem-ldr,unpckpsc}.bin "$work/run/"
cd "$work/run" || exit 1
here="Z:${PWD//\//\\}\\" # Wine hands the program its path on drive Z:
passed=0 failed=0

check() { # NAME COMMAND...: a condition
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)) && echo "FAIL: $name"; fi
}
# vt STATUS ARGS...: runs the tool with no input; its exit status must be
# STATUS, every line of its output end in CR LF. The output, CR LF made LF,
# goes to out (the banner and the Loader's random name dropped), standard
# error to err.
vt() {
  local want=$1
  shift
  "$WINE" ./vemtool.exe "$@" </dev/null >"$work/raw" 2>"$work/err"
  local status=$?
  check "vemtool $* ends with $want, not $status" [ "$status" -eq "$want" ]
  check "vemtool $*: CR LF" crlf "$work/raw" "$work/err"
  tr -d '\r' <"$work/raw" | tail -n +2 | sed -E 's/vemldr[a-z0-9]{6}/vemldrXXXXXX/' >out
}
crlf() { ! LC_ALL=C grep -qv $'\r$' "$@"; }
says() { check "says: $1" grep -qxF -- "$1" out; }             # a line of the output
same() { check "whole output: $1" cmp -s out /dev/stdin; }      # the output, from stdin
err_is() { check "error: $1" [ "$(tr -d '\r' <"$work/err")" = "$1" ]; }
lines() { printf ".\\\\%s\r\n" "$@"; } # a list file's lines

printf 'Read me, please.\n' >readme.txt
mkdir sub 'вывод' a
head -c 300 /dev/zero | tr '\0' 'D' >sub/data.bin
printf 'replaced' >sub/other.bin
printf 'cyrillic' >'xфайл.bin'

vt 0 GAME.B -ic
says "VEM BOOT file: ${here}vem-boot.bin"
vt 0 GAME.B -fa readme.txt -ln "Read me" -al
same ".\\ prefix" <<EOF
Adding file: README.T
Source file: .\\readme.txt
Long name: Read me         
Size: 17 bytes (1 sectors)
Start: 0
Attributes: List

EOF
vt 0 GAME.B -fa 'sub\data.bin' -fn DATA.B -sa 0x4000
says 'Source file: sub\data.bin'
vt 0 GAME.B -fa 'sub/x\..\other.bin' -fn OTHER.B
says 'Source file: sub/x\..\other.bin'
vt 0 GAME.B -fa 'xфайл.bin' -fn CYR.B
says 'Source file: .\xфайл.bin'
vt 0 GAME.B -fr OTHER.B 'sub\data.bin'
vt 0 GAME.B -fp OTHER.B -fn SECOND.B -ln "Second" -ar
for command in -c -ii; do vt 0 GAME.B $command; done
vt 0 GAME.B -ml LOADER.L README.T DATA.B -mon 2X
says "Source file: ${here}vemldrXXXXXX"
check "no temporary Loader file left" [ -z "$(ls | grep vemldr)" ]
vt 0 GAME.B -li LOADER.L
vt 0 GAME.B -fx 'вывод\CYR.B'
says 'Target path: вывод\'
check "Cyrillic directory holds the data" [ "$(cat 'вывод/CYR.B')" = cyrillic ]
vt 0 GAME.B -fx "*" -cfn -cfnl files.txt
says 'List file: .\files.txt'
check "list lines with .\\ and CR LF" cmp -s files.txt <(lines 'README_Read#20me_0_1.T' \
  DATA__16384_0.B SECOND_Second_0_2.B CYR__0_0.B LOADER__32512_1.L)
for command in -ic "-fl files.txt"; do vt 0 COPY.B $command; done
check "same image after the round trip" cmp -s GAME.B COPY.B

vt 0 GAME.B -fa readme.txt -fn GAME.B
cp GAME.B BEFORE.B
vt 12 GAME.B -fx "*"
err_is "Can't open file '.\\GAME.B' for writing!"
vt 12 GAME.B -fx 'out\*' -cfn -cfnl GAME.B
err_is "Can't open file '.\\GAME.B' for writing!"
check "image untouched" cmp -s GAME.B BEFORE.B
vt 0 GAME.B -fd "SEC*"
vt 0 GAME.B -ir -is 256 -id 16
check "reconfigured size, no side file left" [ "$(stat -c %s GAME.B)$(ls | grep -E '[.](tmp|jnl|new)$')" = 262144 ]
chmod a-w BEFORE.B
vt 13 BEFORE.B -ic
err_is "Can't access output file 'BEFORE.B' for writing!"

# Stored names that Windows cannot hold, added through complex names. The
# first becomes ..\..\XY in the directory bytes (no command stores a point).
complex_names=(ZZZZZZZZ__0_0.B NUL__0_0.B con__0_0.B COM1__0_0.X 'A#3CB__0_0.B' 'A#7CB__0_0.B'
  'A#22B__0_0.B' 'AB__0_0.#2E' 'CONIN$__0_0.B' 'conout$__0_0.B')
vt 0 NAMES.B -ic
for complex in "${complex_names[@]}"; do
  printf '%s' "$complex" >"$complex"
  vt 0 NAMES.B -fc "$complex"
done
vt 0 NAMES.B -fx "*" -cfn -cfnl names.txt
for command in -ic "-fl names.txt"; do vt 0 BACK.B $command; done
check "reserved complex names come back" cmp -s NAMES.B BACK.B
printf '..\\..\\XY' | dd of=NAMES.B bs=1 seek=129 conv=notrunc status=none
mkdir -p a/b/out
plain=('..#5C..#5CXY.B' '#4EUL.B' '#43ON.B' '#43OM1.X' 'A#3CB.B' 'A#7CB.B' 'A#22B.B' 'AB.#2E'
  '#43ONIN$.B' '#43ONOUT$.B')
vt 0 NAMES.B -fx 'a\b\out\*' -cfnl 'a\plain.txt'
check "nothing written above the target" [ "$(ls a | tr '\n' ' ')" = "b plain.txt " ]
check "every reserved name escaped" [ "$(cd a/b/out && ls -A | LC_ALL=C sort | tr '\n' ' ')" = \
  "$(printf '%s\n' "${plain[@]}" | LC_ALL=C sort | tr '\n' ' ')" ]
check "data under the escaped device name" [ "$(cat 'a/b/out/#4EUL.B')" = NUL__0_0.B ]
check "plain list names the same files" cmp -s a/plain.txt <(lines "${plain[@]}")

# Notepad's byte-order mark in front; 0x1A is part of a line.
printf '\xEF\xBB\xBFA__0_0.B\r\nB__0_0.B\n\x1A\r\nC__0_0.B\r\n' >eof.txt
for letter in A B C; do printf '%s' "$letter" >"${letter}__0_0.B"; done
vt 0 LIST.B -ic
vt 29 LIST.B -fl eof.txt
err_is "Invalid complex file name '"$'\x1A'"'"
check "two files added" [ "$(grep -c '^Adding file: ' out)" -eq 2 ]

# A drive and no separator: a path in that drive's current directory (Wine's
# is on Z:), a list line included.
printf 'Z:B__0_0.B\r\n' >drive.txt
for command in -ic "-fl Z:drive.txt" "-fa Z:readme.txt"; do vt 0 DRIVE.B $command; done
says "Source file: Z:readme.txt"
vt 0 DRIVE.B -fx 'Z:*' -cfnl Z:drive.lst
says "Target path: Z:"
check "list written on the drive" cmp -s drive.lst <(lines B.B README.T)

# At a console (Wine's, on a pseudo-terminal): the pager waits only when the
# output is the console too, and the console gets its own code page back
# (850, set first whatever the locale's is).
for n in $(seq -w 1 21); do printf 'r' >"R${n}__0_0.B"; done
printf 'R%s__0_0.B\r\n' $(seq -w 1 21) >rows.txt
for command in -ic "-fl rows.txt"; do vt 0 ROWS.B $command; done
timeout 60 script -qc "$WINE ./vemtool.exe ROWS.B -c >rows.out; $WINE ./vemtool.exe ROWS.B -c | cat >piped.out;
  $WINE cmd /c 'chcp 850 >NUL & probe.exe cp & vemtool.exe ROWS.B -ii >NUL & probe.exe cp' >code_page.out" /dev/null \
  </dev/null >/dev/null
all_rows() { [ "$(grep -c '  B R[0-9][0-9] ' "$1")" -eq 21 ] && ! grep -q 'Press ENTER' "$1"; }
check "no pager into a file" all_rows rows.out
check "no pager into a pipe" all_rows piped.out
check "the console's code page given back" [ "$(tr -d '\r' <code_page.out | tr '\n' ' ')" = "850 850 " ]

# A new image cannot replace one another program holds open: -ir waits for
# it as for the lock, then fails naming the image and leaves nothing behind.
"$WINE" ./probe.exe hold ROWS.B 1500 &
sleep 0.5
vt 0 ROWS.B -ir -is 64
wait
"$WINE" ./probe.exe hold ROWS.B 13000 &
sleep 0.5
vt 13 ROWS.B -ir -is 96
err_is "Can't access output file 'ROWS.B' for writing!"
wait
check "the image kept, nothing beside it" [ "$(stat -c %s ROWS.B)$(ls | grep -E '^ROWS[.]B[.]')" = 65536 ]

# A journal is found under every spelling of the image's name: its short
# name, a trailing point, another case.
vt 0 longfilename.vem -ic
short=$("$WINE" cmd /c 'dir /x longfilename.vem' 2>/dev/null | tr -d '\r' |
  awk '/ longfilename.vem$/ { print $(NF - 1) }')
for spelling in "$short" longfilename.vem. LONGFILENAME.VEM; do
  printf 'VEMJRNL' >longfilename.vem.jnl
  vt 0 "$spelling" -ii
  check "torn journal found through $spelling" [ ! -e longfilename.vem.jnl ]
done

vt 0
check "usage without arguments" [ "$(head -1 out)" = "Utility to manage VEM images." ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
