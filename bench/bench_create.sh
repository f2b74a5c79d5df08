#!/usr/bin/env bash
# Times `quorvane-batch create-files` and `create-folders` against the standard tools making
# the same names (cp once per copy, and one cp -r making the whole result tree), and prints the time ratio of every pair, the median of those ratios, and
# peak memory. Run by hand after a build:
#   bench/bench_create.sh [build/quorvane-batch] [work folder]
# Each pair runs both commands back to back in fresh, empty folders on the work folder's file
# system, after a sync, the order alternating from pair to pair so that a drifting machine
# favours neither side. REPEAT pairs per case (default 5).
set -euo pipefail

batch=$(realpath "${1:-$(dirname "$0")/../build/quorvane-batch}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-5}
[ -x "$batch" ] || { echo "no quorvane-batch at $batch: build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making data in $work ..."
head -c 1000000 /dev/urandom > template.bin
mkdir template.dir
for i in $(seq 1 50); do head -c 20000 /dev/urandom > "template.dir/part$i.bin"; done
# The names each tool makes, exactly as quorvane-batch composes them.
seq -f 'f%g.txt' 1 100000 > names-100000
seq -f 'f%g.txt' 1 1000 > names-1000
seq -f 'd%g' 1 20000 > names-20000
seq -f 'd%g' 1 200 > names-200
# The same result trees ready made, for one cp process to copy whole: copying a copy takes
# the cost of starting a process per item out of the comparison.
mkdir tree-1000 tree-200
(cd tree-1000 && xargs -a ../names-1000 -I{} cp ../template.bin {})
(cd tree-200 && xargs -a ../names-200 -I{} cp -r ../template.dir {})

# Runs the command string $2 in the fresh, empty folder $1; sets seconds and peak_kib.
measure() {
  rm -rf "$1" && mkdir "$1" && sync && sleep 1
  (cd "$1" && /usr/bin/time -o "$work/time.out" -f '%e %M' bash -c "$2" >/dev/null 2>&1)
  read -r seconds peak_kib < <(tail -1 "$work/time.out")
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# compare NAME "ours" "theirs" CHECK: each command string runs in its own fresh folder (out
# and other); CHECK runs afterwards and must succeed (the two results are the same).
compare() {
  local name=$1 ours=$2 theirs=$3 check=$4 ratios=() our_times=() their_times=()
  local our_mem=0 their_mem=0 a b ta ma tb mb
  for pair in $(seq "$REPEAT"); do
    if ((pair % 2)); then
      measure out "$ours"; ta=$seconds ma=$peak_kib
      measure other "$theirs"; tb=$seconds mb=$peak_kib
    else
      measure other "$theirs"; tb=$seconds mb=$peak_kib
      measure out "$ours"; ta=$seconds ma=$peak_kib
    fi
    our_times+=("$ta"); their_times+=("$tb")
    ratios+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')")
    ((ma > our_mem)) && our_mem=$ma; ((mb > their_mem)) && their_mem=$mb
  done
  bash -c "$check"
  a=$(printf '%s\n' "${our_times[@]}" | median)
  b=$(printf '%s\n' "${their_times[@]}" | median)
  awk -v n="$name" -v a="$a" -v b="$b" -v ma="$our_mem" -v mb="$their_mem" \
      -v r="$(printf '%s\n' "${ratios[@]}" | median)" -v all="${ratios[*]}" 'BEGIN {
    printf "%-38s quorvane %6.2f s %6.1f MB | other %6.2f s %6.1f MB | ratio %s (pairs: %s)\n",
           n, a, ma / 1024, b, mb / 1024, r, all }'
}

same_tree() { diff -r "$work/out" "$work/other" >/dev/null; }
export -f same_tree
export work

echo
echo "Medians of $REPEAT pairs; ratio = quorvane / other, per pair and its median (target: 1.30 or less)."
compare "100000 empty files vs xargs touch" \
  "'$batch' create-files . --from 1 --to 100000 --prefix f --suffix txt --yes --quiet" \
  "xargs -a '$work/names-100000' touch" \
  "same_tree && [ \$(ls '$work/out' | wc -l) = 100000 ]"
compare "1000 copies of 1 MB vs cp" \
  "'$batch' create-files . --from 1 --to 1000 --prefix f --suffix txt --template '$work/template.bin' --yes --quiet" \
  "xargs -a '$work/names-1000' -I{} cp '$work/template.bin' {}" \
  "same_tree"
compare "1000 copies of 1 MB vs one cp -r" \
  "'$batch' create-files . --from 1 --to 1000 --prefix f --suffix txt --template '$work/template.bin' --yes --quiet" \
  "cp -r '$work/tree-1000/.' ." \
  "same_tree"
compare "20000 folders vs xargs mkdir" \
  "'$batch' create-folders . --from 1 --to 20000 --prefix d --yes --quiet" \
  "xargs -a '$work/names-20000' mkdir" \
  "same_tree"
compare "200 copies of a 50-file folder vs cp -r" \
  "'$batch' create-folders . --from 1 --to 200 --prefix d --template '$work/template.dir' --yes --quiet" \
  "xargs -a '$work/names-200' -I{} cp -r '$work/template.dir' {}" \
  "same_tree"
compare "200 copies of a 50-file folder vs one cp -r" \
  "'$batch' create-folders . --from 1 --to 200 --prefix d --template '$work/template.dir' --yes --quiet" \
  "cp -r '$work/tree-200/.' ." \
  "same_tree"
echo "The results of each pair of commands are the same trees (diff -r)."
