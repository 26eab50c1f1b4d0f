#!/usr/bin/env bash
# vemtool.exe under Wine from end to end: every command once, and what is
# particular to Windows: the .\ prefix, refusing to extract over the image,
# reserved names escaped, backslash and drive paths, CR LF, 0x1A and a
# byte-order mark in a list, a Cyrillic file name, the pager and the code
# page at a console. Output is compared exactly (with the CR LF line ends
# of Windows text output), and so are bytes and host file names.
#   tests/windows/scenario.sh build-windows/vemtool.exe build-windows/probe.exe
#   (the data files beside vemtool.exe)
set -u
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
probe_exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
WINE=${WINE:-wine}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$work/prefix}
"$WINE" wineboot -i >/dev/null 2>&1

mkdir "$work/run"
cp "$exe" "$work/run/vemtool.exe"
cp "$(dirname "$exe")"/{vem-boot,vem-ldr,unpckpsc}.bin "$work/run/"
cd "$work/run" || exit 1
# Wine hands the program its path as a Windows path on drive Z:.
here="Z:${PWD//\//\\}\\"
banner="VemTool 1.0 - VEM image utility"
passed=0
failed=0

fail() {
  echo "FAIL: $1"
  failed=$((failed + 1))
}
pass() { passed=$((passed + 1)); }

# vt NAME STATUS ARGS...: runs the tool with no input; its standard output
# must be the text on this function's standard input (not compared when
# $quiet is set), its standard error "$err" (empty unless set), every line
# of both ending in CR LF.
vt() {
  local name=$1 want=$2
  shift 2
  "$WINE" ./vemtool.exe "$@" </dev/null >"$work/out" 2>"$work/err"
  local status=$?
  cat >"$work/want_out"
  printf '%s' "${err-}" >"$work/want_err"
  local ok=1
  [ "$status" -eq "$want" ] || { echo "$name: status $status, want $want"; ok=0; }
  local streams="out err"
  [ -n "${quiet-}" ] && streams=err  # only the status and the files matter
  for stream in $streams; do
    if LC_ALL=C grep -qv $'\r$' "$work/$stream"; then
      echo "$name: standard $stream has a line without CR LF"
      ok=0
    fi
    # The Loader's temporary file has a random name.
    tr -d '\r' <"$work/$stream" | sed -E 's/vemldr[a-z0-9]{6}/vemldrXXXXXX/' >"$work/got_$stream"
    if ! cmp -s "$work/got_$stream" "$work/want_$stream"; then
      echo "$name: standard $stream differs:"
      diff "$work/want_$stream" "$work/got_$stream" | head -20
      ok=0
    fi
  done
  if [ $ok -eq 1 ]; then pass; else fail "$name"; fi
}

# check NAME COMMAND...: a condition on files.
check() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}
size_is() { [ "$(stat -c %s "$1")" -eq "$2" ]; }
holds() { [ "$(cat "$1")" = "$2" ]; }

printf 'Read me, please.\n' >readme.txt
mkdir sub
head -c 300 /dev/zero | tr '\0' 'D' >sub/data.bin
printf 'replaced' >sub/other.bin
printf 'cyrillic' >'xфайл.bin'

vt "create" 0 GAME.B -ic <<EOF
$banner
Creating VEM image: GAME.B
VEM image size: 512 kB (4096 sectors)
VEM BOOT file: ${here}vem-boot.bin
VEM Boot size: 128 bytes
Directory items: 32 (1024 bytes)
Capacity: 510.875 kB (4087 secotrs)

EOF
check "image size" size_is GAME.B 524288

vt "add with the .\\ prefix" 0 GAME.B -fa readme.txt -ln "Read me" -al <<EOF
$banner
Adding file: README.T
Source file: .\\readme.txt
Long name: Read me         
Size: 17 bytes (1 sectors)
Start: 0
Attributes: List

EOF

vt "add through a backslash path" 0 GAME.B -fa 'sub\data.bin' -fn DATA.B -sa 0x4000 <<EOF
$banner
Adding file: DATA.B
Source file: sub\\data.bin
Long name:                 
Size: 300 bytes (3 sectors)
Start: 16384
Attributes: None
EOF

vt "add through a mixed path" 0 GAME.B -fa 'sub/x\..\other.bin' -fn OTHER.B <<EOF
$banner
Adding file: OTHER.B
Source file: sub/x\\..\\other.bin
Long name:                 
Size: 8 bytes (1 sectors)
Start: 0
Attributes: None
EOF

vt "add a Cyrillic host file" 0 GAME.B -fa 'xфайл.bin' -fn CYR.B <<EOF
$banner
Adding file: CYR.B
Source file: .\\xфайл.bin
Long name:                 
Size: 8 bytes (1 sectors)
Start: 0
Attributes: None
EOF

vt "replace" 0 GAME.B -fr OTHER.B 'sub\data.bin' <<EOF
$banner
Replacing file: OTHER.B
Source file: sub\data.bin
New size: 300 bytes (3 sectors)

EOF

vt "change parameters" 0 GAME.B -fp OTHER.B -fn SECOND.B -ln "Second" -ar <<EOF
$banner
Changing parameters for file: OTHER.B
New name: SECOND.B
New long name: Second          
New attributes: AllRAM

EOF

vt "catalogue" 0 GAME.B -c <<EOF
$banner
Catalogue of 'GAME.B', mask: '????????'

Idx  T Name      Long name         Start           Size          AL
-------------------------------------------------------------------
  1  T README    Read me               0 (0000h)     17 (0011h)  -L
  2  B DATA                        16384 (4000h)    300 (012Ch)  --
  3  B SECOND    Second                0 (0000h)    300 (012Ch)  A-
  4  B CYR                             0 (0000h)      8 (0008h)  --

1 kB in 4 file(s), 509.875 kB free
EOF

vt "info" 0 GAME.B -ii <<EOF
$banner
VEM image info: GAME.B
VEM image size: 512 kB (4096 sectors)
VEM BOOT size: 128 bytes
Directory items: 32 (1024 bytes)
Capacity: 510.875 kB (4087 secotrs)

Files: 4
Used space: 1 kB
Free space: 509.875 kB
EOF

vt "make a Loader" 0 GAME.B -ml LOADER.L README.T DATA.B -mon 2X <<EOF
$banner
Creating and adding Loader file into image: LOADER.L
Picture file: README.T
Code file: DATA.B
Load Monitor: MONIT2.? (No Init)

Adding file: LOADER.L
Source file: ${here}vemldrXXXXXX
Long name:                 
Size: 34 bytes (1 sectors)
Start: 32512
Attributes: List

EOF
check "no temporary Loader file left" [ -z "$(ls | grep vemldr)" ]

vt "Loader info" 0 GAME.B -li LOADER.L <<EOF
$banner
Loader file info: LOADER.L
Directory index: 4
Loader file size: 34 bytes
Loader load address: 32512 (7F00h)
Picture file: README.T
Code file: DATA.B
Load Monitor: MONIT2.? (No Init)

EOF

mkdir 'вывод'
vt "extract into a Cyrillic directory" 0 GAME.B -fx 'вывод\CYR.B' <<EOF
$banner
Extracting files by mask: CYR.B
Target path: вывод\\

Extracting file: CYR.B

1 file(s) extracted.

EOF
check "Cyrillic directory holds the data" holds 'вывод/CYR.B' cyrillic

vt "extract with a list" 0 GAME.B -fx "*" -cfn -cfnl files.txt <<EOF
$banner
Extracting files by mask: ????????
Target path: .\\
List file: .\files.txt

Extracting file: README_Read#20me_0_1.T
Extracting file: DATA__16384_0.B
Extracting file: SECOND_Second_0_2.B
Extracting file: CYR__0_0.B
Extracting file: LOADER__32512_1.L

5 file(s) extracted.

EOF
check "list lines with .\\ and CR LF" cmp -s files.txt <(printf '.\\%s\r\n' 'README_Read#20me_0_1.T' \
  DATA__16384_0.B SECOND_Second_0_2.B CYR__0_0.B LOADER__32512_1.L)

vt "an image for the list" 0 COPY.B -ic <<EOF
$banner
Creating VEM image: COPY.B
VEM image size: 512 kB (4096 sectors)
VEM BOOT file: ${here}vem-boot.bin
VEM Boot size: 128 bytes
Directory items: 32 (1024 bytes)
Capacity: 510.875 kB (4087 secotrs)

EOF
quiet=1 vt "add the list" 0 COPY.B -fl files.txt </dev/null
check "same image after the round trip" cmp -s GAME.B COPY.B

quiet=1 vt "a file named as the image" 0 GAME.B -fa readme.txt -fn GAME.B </dev/null
cp GAME.B BEFORE.B
err=$'Can\'t open file \'.\\GAME.B\' for writing!\n\n' vt "no extraction over the image" 12 GAME.B -fx "*" <<EOF
$banner
Extracting files by mask: ????????
Target path: .\\

Extracting file: README.T
Extracting file: DATA.B
Extracting file: SECOND.B
Extracting file: CYR.B
Extracting file: LOADER.L
Extracting file: GAME.B
EOF
err=$'Can\'t open file \'.\\GAME.B\' for writing!\n\n' vt "no list over the image" 12 GAME.B -fx 'out\*' -cfn -cfnl GAME.B <<EOF
$banner
Extracting files by mask: ????????
Target path: out\\
EOF
check "image untouched" cmp -s GAME.B BEFORE.B

vt "delete" 0 GAME.B -fd "SEC*" <<EOF
$banner
Delete files by mask: SEC?????

Deleting file: SECOND.B

1 file(s) deleted.

EOF

vt "reconfigure" 0 GAME.B -ir -is 256 -id 16 <<EOF
$banner
Reconfiguring VEM image: GAME.B
  Directory items: 32 -> 16
  VEM image size: 512 kB -> 256 kB

VEM image size: 256 kB (2048 sectors)
VEM BOOT size: 128 bytes
Directory items: 16 (512 bytes)
Capacity: 255.375 kB (2043 secotrs)

EOF
check "reconfigured size" size_is GAME.B 262144
check "no side files left" [ -z "$(ls | grep -E '[.](tmp|jnl|new)$')" ]

chmod a-w BEFORE.B
err=$'Can\'t access output file \'BEFORE.B\' for writing!\n\n' vt "a read-only image is not recreated" 13 BEFORE.B -ic <<EOF
$banner
Creating VEM image: BEFORE.B
EOF
chmod u+w BEFORE.B

# Stored names that Windows cannot hold, added through complex names. For
# the plain names, the first file's name becomes ..\..\XY in the directory
# bytes (no command stores a name with a point).
complex_names=(ZZZZZZZZ__0_0.B NUL__0_0.B con__0_0.B COM1__0_0.X 'A#3CB__0_0.B' 'A#7CB__0_0.B' 'A#22B__0_0.B' 'AB__0_0.#2E'
  'CONIN$__0_0.B' 'conout$__0_0.B')
for complex in "${complex_names[@]}"; do printf '%s' "$complex" >"$complex"; done
quiet=1 vt "an image for reserved names" 0 NAMES.B -ic </dev/null
for complex in "${complex_names[@]}"; do
  quiet=1 vt "add $complex" 0 NAMES.B -fc "$complex" </dev/null
done
quiet=1 vt "extract reserved complex names" 0 NAMES.B -fx "*" -cfn -cfnl names.txt </dev/null
check "complex names written" test -f 'ZZZZZZZZ__0_0.B' -a -f 'AB__0_0.#2E' -a -f 'A#22B__0_0.B'
quiet=1 vt "an image for their list" 0 BACK.B -ic </dev/null
quiet=1 vt "reserved names come back" 0 BACK.B -fl names.txt </dev/null
check "same image after the round trip" cmp -s NAMES.B BACK.B

printf '..\\..\\XY' | dd of=NAMES.B bs=1 seek=129 conv=notrunc status=none
mkdir -p a/b/out
vt "extract reserved names" 0 NAMES.B -fx 'a\b\out\*' -cfnl 'a\plain.txt' <<EOF
$banner
Extracting files by mask: ????????
Target path: a\b\out\\
List file: a\plain.txt

Extracting file: ..#5C..#5CXY.B
Extracting file: #4EUL.B
Extracting file: #43ON.B
Extracting file: #43OM1.X
Extracting file: A#3CB.B
Extracting file: A#7CB.B
Extracting file: A#22B.B
Extracting file: AB.#2E
Extracting file: #43ONIN$.B
Extracting file: #43ONOUT$.B

10 file(s) extracted.

EOF
check "nothing written above the target" [ "$(ls a | tr '\n' ' ')" = "b plain.txt " ]
check "every reserved name written" [ "$(cd a/b/out && ls -A | LC_ALL=C sort | tr '\n' ' ')" = \
  "#43OM1.X #43ON.B #43ONIN\$.B #43ONOUT\$.B #4EUL.B ..#5C..#5CXY.B A#22B.B A#3CB.B A#7CB.B AB.#2E " ]
check "data under the escaped device name" holds 'a/b/out/#4EUL.B' NUL__0_0.B
check "plain list names the same files" cmp -s a/plain.txt <(printf '.\\%s\r\n' '..#5C..#5CXY.B' '#4EUL.B' \
  '#43ON.B' '#43OM1.X' 'A#3CB.B' 'A#7CB.B' 'A#22B.B' 'AB.#2E' '#43ONIN$.B' '#43ONOUT$.B')

# Notepad's byte-order mark in front.
printf '\xEF\xBB\xBFA__0_0.B\r\nB__0_0.B\n\x1A\r\nC__0_0.B\r\n' >eof.txt
for letter in A B C; do printf '%s' "$letter" >"${letter}__0_0.B"; done
quiet=1 vt "an image for the CR LF list" 0 LIST.B -ic </dev/null
err=$'Invalid complex file name \'\x1A\'\n\n' vt "0x1A is part of a line" 29 LIST.B -fl eof.txt <<EOF
$banner
Adding files from list stored in file: .\eof.txt

Adding file with complex name.
Adding file: A.B
Source file: A__0_0.B
Long name:                 
Size: 1 bytes (1 sectors)
Start: 0
Attributes: None
Adding file with complex name.
Adding file: B.B
Source file: B__0_0.B
Long name:                 
Size: 1 bytes (1 sectors)
Start: 0
Attributes: None
Adding file with complex name.
EOF

# A drive and no separator: a path in that drive's current directory (Wine's
# is on Z:), a list line included.
printf 'Z:B__0_0.B\r\n' >drive.txt
quiet=1 vt "an image for drive paths" 0 DRIVE.B -ic </dev/null
vt "add from a drive path" 0 DRIVE.B -fa Z:readme.txt <<EOF
$banner
Adding file: README.T
Source file: Z:readme.txt
Long name:                 
Size: 17 bytes (1 sectors)
Start: 0
Attributes: None
EOF
quiet=1 vt "a list on a drive path, a line with a drive" 0 DRIVE.B -fl Z:drive.txt </dev/null
vt "extract to a drive path" 0 DRIVE.B -fx 'Z:*' -cfnl Z:drive.lst <<EOF
$banner
Extracting files by mask: ????????
Target path: Z:
List file: Z:drive.lst

Extracting file: README.T
Extracting file: B.B

2 file(s) extracted.

EOF
check "list written on the drive" cmp -s drive.lst <(printf '.\\%s\r\n' README.T B.B)

# At a console (Wine's, on a pseudo-terminal): the pager waits only when the
# output is the console too, and the console gets its own code page back
# (850, set first whatever the locale's is).
for n in $(seq -w 1 21); do printf 'r' >"R${n}__0_0.B"; done
printf 'R%s__0_0.B\r\n' $(seq -w 1 21) >rows.txt
quiet=1 vt "an image for 21 rows" 0 ROWS.B -ic </dev/null
quiet=1 vt "21 rows from a list" 0 ROWS.B -fl rows.txt </dev/null
cp "$probe_exe" probe.exe
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
quiet=1 vt "-ir waits for a program that holds the image" 0 ROWS.B -ir -is 64 </dev/null
wait
"$WINE" ./probe.exe hold ROWS.B 13000 &
sleep 0.5
err=$'Can\'t access output file \'ROWS.B\' for writing!\n\n' quiet=1 vt "-ir gives up after the wait" 13 ROWS.B -ir -is 96 </dev/null
wait
check "the image kept, nothing left beside it" size_is ROWS.B 65536
check "no side file left" [ -z "$(ls | grep -E '^ROWS[.]B[.]')" ]

# A journal is found under every spelling of the image's name: its short
# name, a trailing point, another case.
quiet=1 vt "an image with a long name" 0 longfilename.vem -ic </dev/null
short=$("$WINE" cmd /c 'dir /x longfilename.vem' 2>/dev/null | tr -d '\r' |
  awk '/ longfilename.vem$/ { print $(NF - 1) }')
for spelling in "$short" longfilename.vem. LONGFILENAME.VEM; do
  printf 'VEMJRNL' >longfilename.vem.jnl
  quiet=1 vt "image named $spelling" 0 "$spelling" -ii </dev/null
  check "torn journal found through $spelling" [ ! -e longfilename.vem.jnl ]
done

"$WINE" ./vemtool.exe </dev/null >"$work/out" 2>&1
check "usage without arguments ends well" [ $? -eq 0 ]
check "usage without arguments" [ "$(head -2 "$work/out" | tr -d '\r')" = "$banner
Utility to manage VEM images." ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
