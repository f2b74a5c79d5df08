#!/usr/bin/env bash
# Times `quorvane-batch rename-files` and `rename-folders` against a bare rename(2) loop in C
# that is handed the same plan, and against `mv` in a shell loop, and prints paired ratios
# and peak memory. Run by hand after a build:
#   bench/bench_rename.sh [build folder] [work folder]
#   REPEAT=7 MV_REPEAT=5 bench/bench_rename.sh     # more pairs; MV_REPEAT=0 leaves mv out
# Every run renames the N items of a folder, named off .. off+N-1, to off+1 .. off+N: each
# new name is the old name of the next item, the hardest order, where a wrong order would
# replace a file. The folder then holds the next run's input. Each comparison runs in pairs,
# back to back in alternating order after one warm-up run of each side; each pair gives a
# ratio quorvane / other and the median of the ratios counts, so a slow moment of the machine
# weighs on both sides. Peak memory and processor time (user + system) come from GNU time;
# the processor time is steadier than the elapsed time where a disk's journal sets the pace.
# A folder on tmpfs (bench/bench_rename.sh build /dev/shm) shows the program's own cost.
set -euo pipefail

build=$(realpath "${1:-$(dirname "$0")/../build}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-5}
MV_REPEAT=${MV_REPEAT:-3}
batch=$build/quorvane-batch
[ -x "$batch" ] || { echo "build first: no $batch" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
command -v cc >/dev/null || { echo "needs a C compiler (cc)" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The bare loop: chdir into the folder, then one rename(2) per line "old new" of the plan.
cat > bare.c <<'EOF'
#include <stdio.h>
#include <unistd.h>
int main(int argc, char** argv) {
  char from[256], to[256];
  FILE* plan = argc == 3 ? fopen(argv[2], "r") : NULL;
  if (!plan || chdir(argv[1]) != 0) return 2;
  while (fscanf(plan, "%255s %255s", from, to) == 2)
    if (rename(from, to) != 0) { perror(from); return 1; }
  return 0;
}
EOF
cc -O2 -o bare bare.c

echo "Making data in $work ..."
mkdir files folders few_files few_folders
(cd files && seq 1 100000 | xargs touch)
(cd folders && seq 1 20000 | xargs mkdir)
if [ "$MV_REPEAT" -gt 0 ]; then
  (cd few_files && seq 1 10000 | xargs touch)
  (cd few_folders && seq 1 10000 | xargs mkdir)
fi
declare -A off=([files]=1 [folders]=1 [few_files]=1 [few_folders]=1)
declare -A count=([files]=100000 [folders]=20000 [few_files]=10000 [few_folders]=10000)

# run SIDE FOLDER: renames FOLDER's items one place on; sets t (seconds), c (processor
# seconds) and m (peak KiB).
run() {
  local side=$1 dir=$2 first=${off[$2]} n=${count[$2]} cmd
  case $side in
    quorvane-files) cmd=("$batch" rename-files "$dir" --from $((first + 1)) --quiet) ;;
    quorvane-folders) cmd=("$batch" rename-folders "$dir" --from $((first + 1)) --quiet) ;;
    bare)
      seq $((first + n - 1)) -1 "$first" | awk '{ print $1, $1 + 1 }' > plan.txt
      cmd=(./bare "$dir" plan.txt) ;;
    mv) cmd=(bash -c "cd '$dir' && for i in \$(seq $((first + n - 1)) -1 $first); do mv -- \"\$i\" \"\$((i + 1))\"; done") ;;
  esac
  if ! /usr/bin/time -o time.out -f '%e %M %U %S' "${cmd[@]}" >/dev/null 2>err.out; then
    cat err.out time.out >&2
    exit 1
  fi
  local user system
  read -r t m user system < <(tail -1 time.out)
  c=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
  off[$dir]=$((first + 1))
}

# Every item is there under its new name, and nothing else.
check() {
  local dir=$1 first=${off[$1]} n=${count[$1]}
  [ "$(ls -A "$dir" | wc -l)" -eq "$n" ] && [ -e "$dir/$first" ] && [ -e "$dir/$((first + n - 1))" ] ||
    { echo "$dir does not hold $first .. $((first + n - 1))" >&2; exit 1; }
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# pair NAME FOLDER OURS THEIRS PAIRS
pair() {
  local name=$1 dir=$2 ours=$3 theirs=$4 pairs=$5 ratios=() our_times=() their_times=()
  local cpu_ratios=() om=0 tm=0 a b am bm ac bc
  run "$ours" "$dir"; run "$theirs" "$dir"
  for r in $(seq "$pairs"); do
    if [ $((r % 2)) -eq 1 ]; then
      run "$ours" "$dir"; a=$t am=$m ac=$c; run "$theirs" "$dir"; b=$t bm=$m bc=$c
    else
      run "$theirs" "$dir"; b=$t bm=$m bc=$c; run "$ours" "$dir"; a=$t am=$m ac=$c
    fi
    our_times+=("$a"); their_times+=("$b")
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')")
    cpu_ratios+=("$(awk -v a="$ac" -v b="$bc" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')")
    [ "$am" -gt "$om" ] && om=$am; [ "$bm" -gt "$tm" ] && tm=$bm
  done
  check "$dir"
  awk -v n="$name" -v a="$(printf '%s\n' "${our_times[@]}" | median)" \
      -v b="$(printf '%s\n' "${their_times[@]}" | median)" \
      -v r="$(printf '%s\n' "${ratios[@]}" | median)" -v ma="$om" -v mb="$tm" \
      -v cr="$(printf '%s\n' "${cpu_ratios[@]}" | median)" 'BEGIN {
    printf "%-34s quorvane %6.2f s %6.1f MB | other %6.2f s %6.1f MB | ratio %.2f (cpu %.2f)\n",
           n, a, ma / 1024, b, mb / 1024, r, cr }'
}

echo
echo "Pairs: $REPEAT against the bare loop, $MV_REPEAT against mv; ratio = median of quorvane / other"
echo "in elapsed time (cpu: in processor time)."
pair "100000 files, shift +1 vs bare loop" files quorvane-files bare "$REPEAT"
pair "20000 folders, shift +1 vs bare loop" folders quorvane-folders bare "$REPEAT"
if [ "$MV_REPEAT" -gt 0 ]; then
  pair "10000 files, shift +1 vs mv loop" few_files quorvane-files mv "$MV_REPEAT"
  pair "10000 folders, shift +1 vs mv loop" few_folders quorvane-folders mv "$MV_REPEAT"
fi
echo "After every run each folder held exactly its items, under their new names."
