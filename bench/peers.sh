#!/usr/bin/env bash
# Times vemtool against its peers on the same 150 files: an 8192 kB VEM
# image, an 8 MB FAT image (mtools) and an 8 MB CP/M image (cpmtools), with
# cp of the VEM image as the floor. Tools alternate within each scenario:
# every round runs all of them once more, in a rotated order, and the
# medians are taken over all rounds. Also counts system calls and the bytes
# written to the image and to other files, and measures the time vemtool
# spends in fsync/fdatasync on the two deletes. Prints markdown; asserts
# nothing (the "met" column only reports).
#
#   bench/peers.sh [build-dir]     (default: build-bench, configured Release)
#   BENCH_ROUNDS=5 BENCH_RUNS=10   rounds, and runs per tool in each round
#   BENCH_LINK=0                   skip building and timing the link variants
#   BENCH_BASELINE=path/to/vemtool another vemtool (an earlier version, a
#                                  Release build) timed alongside, with the
#                                  same commands, for a before-and-after
#
# Shares 2 cores with others? Run it as `nice -n 19 bench/peers.sh`: the
# tools are compared within the same run, so the ratios stay fair.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
rounds=${BENCH_ROUNDS:-5}
runs=${BENCH_RUNS:-10}

missing=()
need() { command -v "$1" >/dev/null || missing+=("$2 (for $1)"); }
need hyperfine hyperfine
need mformat mtools; need mcopy mtools; need mdir mtools; need mdel mtools
need mkfs.cpm cpmtools; need cpmcp cpmtools; need cpmls cpmtools; need cpmrm cpmtools
need strace strace
need python3 python3
need cmake cmake
if [ ${#missing[@]} -gt 0 ]; then
  printf 'missing: %s\n' "${missing[@]}" >&2
  echo "install the Debian packages named above (apt-get install ...)" >&2
  exit 1
fi

# Configures a Release build once; builds every time, so a stale binary is
# never measured.
release_build() {  # dir [extra cmake args...]
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
  fi
  cmake --build "$dir" --target vemtool -j2 >/dev/null
}
release_build "$build"
vem=$build/vemtool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# mtools: one drive letter that no system config defines, bound to an image
# file here; the system's drives (real floppies) are never named.
if grep -qiE '^[[:space:]]*drive[[:space:]]+v:' /etc/mtools.conf ~/.mtoolsrc 2>/dev/null; then
  echo "drive v: is defined in the mtools config of this machine; refusing to run" >&2
  exit 1
fi
printf 'drive v: file="%s/fat.img"\nmtools_skip_check=1\n' "$work" > mtoolsrc
export MTOOLSRC=$work/mtoolsrc
mt_create=(mformat -C -t 256 -h 2 -s 32 v:)   # 256 x 2 x 32 x 512 = 8 MB

# cpmtools reads ./diskdefs first. boottrk 1: with boottrk 0 Debian's
# cpmtools crashes on some images.
cat > diskdefs <<'EOF'
diskdef vem8m
  seclen 128
  tracks 256
  sectrk 256
  blocksize 4096
  maxdir 512
  skew 0
  boottrk 1
  os 2.2
end
EOF
cpm=(-f vem8m cpm.img)

# 150 files of 1 to 60 KB from a fixed seed, the same bytes for every tool.
mkdir src
python3 - <<'EOF'
import random
rng = random.Random(150)
for i in range(1, 151):
    size = rng.randint(1024, 60 * 1024)
    with open(f"src/F{i:03d}.B", "wb") as f:
        f.write(rng.randbytes(size))
with open("big.bin", "wb") as f:
    f.write(rng.randbytes(65535))
EOF
srcs=(src/F*.B)

# vemtool's list file: add the files once to a scratch image, extract them
# under complex names with a list, then name the list's lines from here.
"$vem" scratch.vem -ic -is 8192 -id 256 >/dev/null
for f in "${srcs[@]}"; do "$vem" scratch.vem -fa "$f" >/dev/null; done
mkdir cx
"$vem" scratch.vem -fx "cx/*" -cfn -cfnl cx/list.txt >/dev/null
sed 's|^\./|cx/|' cx/list.txt > list.txt

# The starting images of every scenario: empty and with the 150 files.
"$vem" empty.vem -ic -is 8192 -id 256 >/dev/null
"${mt_create[@]}" && cp fat.img empty.fat
truncate -s 8388608 cpm.img && mkfs.cpm "${cpm[@]}" && cp cpm.img empty.cpm
cp empty.vem full.vem && "$vem" full.vem -fl list.txt >/dev/null
cp empty.fat fat.img && mcopy "${srcs[@]}" v: && cp fat.img full.fat
cp empty.cpm cpm.img && cpmcp "${cpm[@]}" "${srcs[@]}" 0: && cp cpm.img full.cpm
image_of() { case $1 in vem) echo v.vem ;; fat) echo fat.img ;; cpm) echo cpm.img ;; esac; }
for t in vem fat cpm; do
  echo "cp empty.$t $(image_of $t)" > "restore-empty-$t.sh"
  echo "cp full.$t $(image_of $t)" > "restore-full-$t.sh"
  printf 'cp full.%s %s\nrm -rf out && mkdir out\n' $t "$(image_of $t)" > "restore-out-$t.sh"
done
printf 'rm -f v.vem\n' > "create-vem.sh"
printf 'rm -f fat.img\n' > "create-fat.sh"
printf 'rm -f cpm.img && truncate -s 8388608 cpm.img\n' > "create-cpm.sh"
printf 'rm -f copy.img\n' > floor.sh

# Scenario table: name, prepare kind, then the vemtool, mtools and cpmtools
# commands and the image cp copies as the floor.
scenarios=(create add64 add150 list extract dellast delmid)
declare -A prep vemc mtc cpmc floor
prep[create]=create;    floor[create]=empty.vem
vemc[create]="$vem v.vem -ic -is 8192 -id 256"
mtc[create]="${mt_create[*]}"
cpmc[create]="mkfs.cpm ${cpm[*]}"
prep[add64]=restore-full; floor[add64]=full.vem
vemc[add64]="$vem v.vem -fa big.bin"
mtc[add64]="mcopy big.bin v:"
cpmc[add64]="cpmcp ${cpm[*]} big.bin 0:"
prep[add150]=restore-empty; floor[add150]=full.vem
vemc[add150]="$vem v.vem -fl list.txt"
mtc[add150]="mcopy ${srcs[*]} v:"
cpmc[add150]="cpmcp ${cpm[*]} ${srcs[*]} 0:"
prep[list]=restore-full; floor[list]=full.vem
vemc[list]="$vem v.vem -c"
mtc[list]="mdir v:"
cpmc[list]="cpmls ${cpm[*]}"
prep[extract]=restore-out; floor[extract]=full.vem
vemc[extract]="$vem v.vem -fx out/*"
mtc[extract]="mcopy -n v:* out/"
cpmc[extract]="cpmcp ${cpm[*]} 0:* out/"
prep[dellast]=restore-full; floor[dellast]=full.vem
vemc[dellast]="$vem v.vem -fd F150.B"
mtc[dellast]="mdel v:F150.B"
cpmc[dellast]="cpmrm ${cpm[*]} 0:f150.b"
prep[delmid]=restore-full; floor[delmid]=full.vem
vemc[delmid]="$vem v.vem -fd F075.B"
mtc[delmid]="mdel v:F075.B"
cpmc[delmid]="cpmrm ${cpm[*]} 0:f075.b"

prep_of() {  # scenario tool -> prepare command
  local kind=${prep[$1]}
  if [ "$kind" = create ]; then echo "bash create-$2.sh"; else echo "bash $kind-$2.sh"; fi
}
cmd_of() {  # scenario tool -> command
  case $2 in vem) echo "${vemc[$1]}" ;; fat) echo "${mtc[$1]}" ;; cpm) echo "${cpmc[$1]}" ;;
    cp) echo "cp ${floor[$1]} copy.img" ;; esac
}

# Alternating timing: per round one hyperfine call with every tool, the
# order rotated each round; all runs of all rounds go into the median.
mkdir json
time_alternating() {  # label, then name=prepare=command triples
  local label=$1; shift
  local entries=("$@") n=$# r i k args
  for r in $(seq 0 $((rounds - 1))); do
    args=()
    for i in $(seq 0 $((n - 1))); do
      k=$(((i + r) % n))
      IFS='|' read -r name pre cmd <<<"${entries[$k]}"
      args+=(-n "$name" --prepare "$pre" "$cmd")
    done
    hyperfine -N --style none --runs "$runs" --export-json "json/$label-$r.json" "${args[@]}" >/dev/null 2>&1 \
      || { echo "hyperfine failed on $label" >&2; hyperfine -N --runs 1 "${args[@]}" >&2; exit 1; }
  done
}
baseline=${BENCH_BASELINE:-}
for s in "${scenarios[@]}"; do
  entries=()
  for t in vem fat cpm; do entries+=("$t|$(prep_of "$s" $t)|$(cmd_of "$s" $t)"); done
  entries+=("cp|bash floor.sh|$(cmd_of "$s" cp)")
  [ -n "$baseline" ] && entries+=("base|$(prep_of "$s" vem)|$(cmd_of "$s" vem | sed "s|^$vem |$baseline |")")
  time_alternating "$s" "${entries[@]}"
done

# System calls and bytes written, one traced run per scenario and tool.
: > io.tsv
for s in "${scenarios[@]}"; do
  for t in vem fat cpm; do
    read -r -a cmd <<<"$(cmd_of "$s" $t)"
    eval "$(prep_of "$s" $t)"
    strace -f -c -o calls.out "${cmd[@]}" </dev/null >/dev/null 2>&1 || true
    eval "$(prep_of "$s" $t)"
    strace -f -y -e trace=write,pwrite64,writev,pwritev,pwritev2 -o writes.out "${cmd[@]}" </dev/null >/dev/null 2>&1 || true
    python3 - "$s" "$t" "$work/$(image_of $t)" >> io.tsv <<'EOF'
import re, sys
scenario, tool, image = sys.argv[1:]
calls = 0
for line in open("calls.out"):
    f = line.split()
    if f and f[-1] == "total":
        calls = int(f[3])
img = other = 0
for line in open("writes.out"):
    m = re.search(r"\b(?:write|pwrite64|writev|pwritev2?)\(\d+<([^>]*)>.*\)\s+=\s+(\d+)", line)
    if not m:
        continue
    path, n = m.group(1), int(m.group(2))
    if path == image:
        img += n
    elif path.startswith("/") and not path.startswith("/dev/"):
        other += n
print(f"{scenario}\t{tool}\t{calls}\t{img}\t{other}")
EOF
  done
done

# Time vemtool spends in sync calls on the deletes (zero when it makes none).
sync_of() {  # scenario [binary] -> "seconds count"
  eval "$(prep_of "$1" vem)"
  read -r -a cmd <<<"$(cmd_of "$1" vem)"
  [ -n "${2:-}" ] && cmd[0]=$2
  strace -f -T -e trace=fsync,fdatasync -o sync.out "${cmd[@]}" </dev/null >/dev/null 2>&1 || true
  awk -F'<' '/(fsync|fdatasync)\(/ { sub(/>.*/, "", $NF); s += $NF; n++ }
    END { printf "%.6f %d", s, n }' sync.out
}
sync_s="$(sync_of delmid) $(sync_of dellast)"
[ -n "$baseline" ] && sync_s="$sync_s $(sync_of delmid "$baseline") $(sync_of dellast "$baseline")"

# -c of the 150-file image against /bin/true, for each way of linking.
link_entries=("true|bash floor.sh|/bin/true")
if [ "${BENCH_LINK:-1}" != 0 ]; then
  release_build "$build-dynamic" -DVEMTOOL_STATIC=OFF
  release_build "$build-static-runtime" -DVEMTOOL_STATIC=OFF \
    "-DCMAKE_EXE_LINKER_FLAGS=-static-libstdc++ -static-libgcc"
  release_build "$build-static" -DVEMTOOL_STATIC=ON
  link_entries+=("dynamic|bash floor.sh|$build-dynamic/vemtool full.vem -c"
    "static-runtime|bash floor.sh|$build-static-runtime/vemtool full.vem -c"
    "static|bash floor.sh|$build-static/vemtool full.vem -c")
fi
link_entries+=("this build|bash floor.sh|$vem full.vem -c")
time_alternating link "${link_entries[@]}"

python3 - "$rounds" "$runs" "$sync_s" <<'EOF'
import glob, json, os, statistics, sys
rounds, runs, sync = sys.argv[1], sys.argv[2], sys.argv[3].split()
syncs = {"delmid": (float(sync[0]) * 1000, int(sync[1])),
         "dellast": (float(sync[2]) * 1000, int(sync[3]))}

def medians(label):
    times = {}
    for path in glob.glob(f"json/{label}-*.json"):
        for r in json.load(open(path))["results"]:
            times.setdefault(r["command"], []).extend(r["times"])
    return {k: statistics.median(v) * 1000 for k, v in times.items()}

names = {"create": "create", "add64": "add a 64 KB file", "add150": "add 150 files (`-fl`)",
         "list": "list", "extract": "extract all", "dellast": "delete the last file",
         "delmid": "delete a middle file"}
print(f"Medians in ms, {rounds} alternating rounds x {runs} runs per tool.\n")
base = "base" in medians("create")
print("| scenario | vemtool | mtools | cpmtools | cp floor | vemtool / fastest peer | target | met |"
      + (" baseline | vemtool / baseline |" if base else ""))
print("|---|---:|---:|---:|---:|---:|---|---|" + ("---:|---:|" if base else ""))
for s, title in names.items():
    m = medians(s)
    v, f, c, cp = m["vem"], m["fat"], m["cpm"], m["cp"]
    peer = min(f, c)
    if s == "add150":
        target, met = "<= 2x mtools", v <= 2 * f
    elif s == "delmid":
        sync_ms, sync_n = syncs[s]
        target = f"<= 3x mtools, less {sync_ms:.2f} ms in {sync_n} sync calls"
        met = v - sync_ms <= 3 * f
    elif s == "dellast":
        sync_ms, sync_n = syncs[s]
        target = f"<= fastest peer ({v - sync_ms:.2f} less {sync_ms:.2f} ms in {sync_n} sync calls)"
        met = v <= peer
    else:
        target, met = "<= fastest peer", v <= peer
    row = f"| {title} | {v:.2f} | {f:.2f} | {c:.2f} | {cp:.2f} | {v / peer:.2f} | {target} | {'yes' if met else 'no'} |"
    print(row + (f" {m['base']:.2f} | {v / m['base']:.2f} |" if base else ""))

m = medians("link")
t = m["true"]
print(f"\n`-c` of the 150-file image against `/bin/true` ({t:.2f} ms), target <= 1.3x:\n")
print("| link | ms | ratio to /bin/true | met |")
print("|---|---:|---:|---|")
for k in ["dynamic", "static-runtime", "static", "this build"]:
    if k in m:
        print(f"| {k} | {m[k]:.2f} | {m[k] / t:.2f} | {'yes' if m[k] <= 1.3 * t else 'no'} |")

print("\nSystem calls and bytes written (one traced run; other = files other than the image):\n")
print("| scenario | tool | system calls | bytes to image | bytes to other files |")
print("|---|---|---:|---:|---:|")
rows = [l.rstrip("\n").split("\t") for l in open("io.tsv")]
tools = {"vem": "vemtool", "fat": "mtools", "cpm": "cpmtools"}
io = {}
for s, tool, calls, img, other in rows:
    io[(s, tool)] = (int(img), int(other))
    print(f"| {names[s]} | {tools[tool]} | {calls} | {img} | {other} |")

sectors = lambda n: -(-n // 128)
src = sorted(glob.glob("src/F*.B"))
fl_limit = sum(sectors(os.path.getsize(p)) + 1 for p in src) * 128
dl_limit = (1 + sectors(os.path.getsize("src/F150.B"))) * 128
limits = [("add64", "`-fa` of 65,535 bytes", (512 + 1 + 1) * 128),
          ("add150", "`-fl` of 150 files", fl_limit),
          ("dellast", "delete the last file", dl_limit)]
print("\nvemtool's bytes written against the limits (other files: at most the same again):\n")
print("| scenario | limit | to image | to other files | met |")
print("|---|---:|---:|---:|---|")
for s, title, limit in limits:
    img, other = io[(s, "vem")]
    met = img <= limit and other <= limit
    print(f"| {title} | {limit} | {img} | {other} | {'yes' if met else 'no'} |")
for s in ("dellast", "delmid"):
    print(f"\nSync calls in vemtool's {names[s]}: {syncs[s][1]}, {syncs[s][0]:.2f} ms in total (strace -T).")
if len(sync) > 4:
    for s, i in (("delmid", 4), ("dellast", 6)):
        print(f"Baseline's {names[s]}: {sync[i + 1]} sync calls, {float(sync[i]) * 1000:.2f} ms (strace -T).")
EOF
