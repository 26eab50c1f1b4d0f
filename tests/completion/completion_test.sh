#!/usr/bin/env bash
# Loads the bash completion into a non-interactive shell and checks what it
# offers on a few command lines, against a real image.
#   completion_test.sh VEMTOOL COMPLETION_FILE
set -u
export LC_ALL=C
tool=$(realpath "$1")
# shellcheck source=/dev/null
source "$2" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$tool" game.vem -ic >/dev/null && "$tool" big.vem -ic >/dev/null || exit 1
printf 'x' >intro.bin
mkdir out
for name in GAME.B INTRO.P TITLE.P; do "$tool" game.vem -fa intro.bin -fn "$name" >/dev/null; done
for i in $(seq 1 25); do "$tool" big.vem -fa intro.bin -fn "F$i.B" >/dev/null; done

failed=0
# check LABEL EXPECTED WORDS...: the candidates offered for the last word, sorted, on one line.
check() {
  local label=$1 expected=$2 got
  shift 2
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _vemtool
  got=$( ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ' -)
  [[ $got == "$expected" ]] || { failed=$((failed + 1)) && echo "FAIL $label: expected [$expected], got [$got]"; }
}
check "image file" "game.vem" "$tool" ga
check "commands" "-fa -fc -fd -fl -fp -fr -fx" "$tool" game.vem -f
check "options of -fa" "-al -ar -fn -ln -ow -psc -sa" "$tool" game.vem -fa intro.bin -
check "options of -ic not yet given" "-ib -id" "$tool" game.vem -ic -is 1024 -
check "nothing after -ii" "" "$tool" game.vem -ii -
check "image commands" "-ic -ii -ir -iv" "$tool" game.vem -i
check "repair after the check" "-fix" "$tool" game.vem -iv -
check "host file of -fa" "intro.bin" "$tool" game.vem -fa in
check "host file of -fr after the stored name" "intro.bin" "$tool" game.vem -fr GAME.B i
check "stored names, any case" "INTRO.P" "$tool" game.vem -fp intro
check "stored names of a mask" "GAME.B INTRO.P TITLE.P" "$tool" game.vem -fd ""
check "stored names in a target directory" "out/TITLE.P" "$tool" game.vem -fx out/t
check "code file of -ml" "GAME.B" "$tool" game.vem -ml LOADER.L TITLE.P G
check "monitor values and stored names" "1 1X 2 2X GAME.B INTRO.P TITLE.P" "$tool" game.vem -ml L.L T.P G.B -mon ""
check "options of -ml after its names" "-ln -mon -ow -sa -scs" "$tool" game.vem -ml L.L T.P G.B -
check "no image, no names" "" "$tool" none.vem -li ""
check "catalogue past the pager" "$(seq 1 25 | sed 's/.*/F&.B/' | sort | paste -sd' ' -)" "$tool" big.vem -li F
echo "$failed failed"
((failed == 0))
