#!/usr/bin/env bash
# Times `quorvane-batch merge-files` against the standard tools on the same data, in one run,
# and prints the ratios and peak memory. Run by hand after a build:
#   bench/bench_merge.sh [build/quorvane-batch] [work folder]
# Data (about 1.1 GB) is made in a temporary folder on the work folder's file system and
# removed at the end. Each command runs once to warm the page cache, then REPEAT times in
# turn; the median wall time counts.
set -euo pipefail

batch=$(realpath "${1:-$(dirname "$0")/../build/quorvane-batch}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-3}
[ -x "$batch" ] || { echo "no quorvane-batch at $batch: build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making data in $work ..."
mkdir small large text
# 20,000 small files of 16 KiB, numbered so that the shell's order is the natural order.
head -c $((20000 * 16384)) /dev/urandom > small.blob
split -a 5 -d -b 16384 small.blob small/part && rm small.blob
for f in small/part*; do mv "$f" "$f.bin"; done
# Four large files of 170 MB.
for i in 1 2 3 4; do head -c 170000000 /dev/urandom > "large/big$i.bin"; done
# 2,000 text files of about 50 KB in LF lines.
for i in $(seq -w 1 2000); do
  base64 -w 76 < <(head -c 37000 /dev/urandom) > "text/chapter$i.txt"
done
du -sh small large text | sed 's/^/  /'

# Runs "$@" and prints "seconds peak_kib" for it.
measure() {
  /usr/bin/time -o "$work/time.out" -f '%e %M' "$@" >/dev/null 2>&1
  tail -1 "$work/time.out"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# compare NAME "ours" "theirs" (each a shell command string writing to its own output)
compare() {
  local name=$1 ours=$2 theirs=$3 our_times=() their_times=() our_mem=0 their_mem=0
  bash -c "$ours" >/dev/null 2>&1; bash -c "$theirs" >/dev/null 2>&1
  for _ in $(seq "$REPEAT"); do
    read -r t m < <(measure bash -c "$ours"); our_times+=("$t"); [ "$m" -gt "$our_mem" ] && our_mem=$m
    read -r t m < <(measure bash -c "$theirs"); their_times+=("$t"); [ "$m" -gt "$their_mem" ] && their_mem=$m
  done
  local a b
  a=$(printf '%s\n' "${our_times[@]}" | median)
  b=$(printf '%s\n' "${their_times[@]}" | median)
  awk -v n="$name" -v a="$a" -v b="$b" -v ma="$our_mem" -v mb="$their_mem" 'BEGIN {
    printf "%-34s quorvane %7.2f s %6.1f MB | other %7.2f s %6.1f MB | time ratio %.2f\n",
           n, a, ma / 1024, b, mb / 1024, (b > 0 ? a / b : 0) }'
}

echo
echo "Median of $REPEAT runs each; ratio = quorvane / other (below 1.10 is within 10%)."
compare "binary, 20000 x 16 KiB vs cat" \
  "'$batch' merge-files small out-small.bin --mode binary --yes --quiet" \
  "cat small/*.bin > cat-small.bin"
cmp out-small.bin cat-small.bin
compare "binary, 4 x 170 MB vs cat" \
  "'$batch' merge-files large out-large.bin --mode binary --yes --quiet" \
  "cat large/*.bin > cat-large.bin"
cmp out-large.bin cat-large.bin
compare "text, 2000 x 50 KB vs cat" \
  "'$batch' merge-files text out-text.txt --mode text --yes --quiet" \
  "cat text/*.txt > cat-text.txt"
compare "text, 2000 x 50 KB vs sed to CR LF" \
  "'$batch' merge-files text out-text.txt --mode text --yes --quiet" \
  "sed 's/\$/\\r/' text/*.txt > sed-text.txt"
cmp out-text.txt sed-text.txt
echo "Outputs are byte-identical to the other tools' outputs."
