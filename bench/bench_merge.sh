#!/usr/bin/env bash
# Times `quorvane-batch merge-files` against the standard tools on the same data, in one run,
# and prints paired ratios and peak memory. Run by hand after a build:
#   bench/bench_merge.sh [build folder] [work folder]
#   REPEAT=7 bench/bench_merge.sh        # more pairs
#   MANY=1 bench/bench_merge.sh          # also the peak memory with 1,000,000 files (slow to make)
# Data (about 1.2 GB) is made in a temporary folder on the work folder's file system and
# removed at the end. The two commands of a pair run back to back, in alternating order, and
# each pair gives one ratio; the median of the ratios counts, so a slow moment of the machine
# weighs on both sides. The standard tools are given the same files in the same natural order
# as quorvane (from quorvane-natural-list), also where names are not zero-padded.
set -euo pipefail
here=$(dirname "$(realpath "$0")")

build=$(realpath "${1:-$(dirname "$0")/../build}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-5}
batch=$build/quorvane-batch
list=$build/quorvane-natural-list
[ -x "$batch" ] && [ -x "$list" ] || { echo "build first: no $batch or $list" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making data in $work ..."
mkdir small large text tiny
# 20,000 files of 16 KiB named part1.bin ... part20000.bin (the shell's order is not theirs).
head -c $((20000 * 16384)) /dev/urandom > small.blob
split -a 5 -d -b 16384 small.blob small/x && rm small.blob
i=0; for f in small/x*; do i=$((i + 1)); mv "$f" "small/part$i.bin"; done
for i in 1 2 3 4; do head -c 170000000 /dev/urandom > "large/big$i.bin"; done
# 2,000 text files of about 50 KB, and 100,000 of about 1 KB, in LF lines.
for i in $(seq 1 2000); do base64 -w 76 < <(head -c 37000 /dev/urandom) > "text/chapter$i.txt"; done
base64 -w 76 < <(head -c $((100000 * 760)) /dev/urandom) | split -a 6 -d -l 13 - tiny/x
i=0; for f in tiny/x*; do i=$((i + 1)); mv "$f" "tiny/note$i.txt"; done
du -sh small large text tiny | sed 's/^/  /'
for set in small:'*.bin' large:'*.bin' text:'*.txt' tiny:'*.txt'; do
  "$list" "${set%%:*}" "${set#*:}" > "${set%%:*}.list"
done

source "$here/pairs.sh"

echo
echo "$REPEAT pairs each; ratio = median of the pairs' quorvane / other."
# A new result on both sides: the program flushes only when it replaces an older file.
pair "binary, 20000 x 16 KiB vs cat" \
  "rm -f out-small.bin; '$batch' merge-files small out-small.bin --mode binary --yes --quiet" \
  "rm -f cat-small.bin; xargs -0 cat < small.list > cat-small.bin"
cmp out-small.bin cat-small.bin
pair "binary, 4 x 170 MB vs cat" \
  "rm -f out-large.bin; '$batch' merge-files large out-large.bin --mode binary --yes --quiet" \
  "rm -f cat-large.bin; xargs -0 cat < large.list > cat-large.bin"
cmp out-large.bin cat-large.bin
# Over an older result, which the program flushes before it replaces it; the peer is the
# standard tools' safe replacement (write beside, sync, rename).
pair "binary, 4 x 170 MB over an older result vs cat + sync + mv" \
  "'$batch' merge-files large out-large.bin --mode binary --yes --quiet" \
  "xargs -0 cat < large.list > cat-large.tmp && sync cat-large.tmp && mv cat-large.tmp cat-large.bin && sync ."
cmp out-large.bin cat-large.bin
pair "text, 2000 x 50 KB vs sed to CR LF" \
  "rm -f out-text.txt; '$batch' merge-files text out-text.txt --mode text --yes --quiet" \
  "rm -f sed-text.txt; xargs -0 sed 's/\$/\\r/' < text.list > sed-text.txt"
cmp out-text.txt sed-text.txt
pair "text, 100000 x 1 KB vs sed to CR LF" \
  "rm -f out-tiny.txt; '$batch' merge-files tiny out-tiny.txt --mode text --yes --quiet" \
  "rm -f sed-tiny.txt; xargs -0 sed 's/\$/\\r/' < tiny.list > sed-tiny.txt"
cmp out-tiny.txt sed-tiny.txt
echo "Outputs are byte-identical to the other tools' outputs."

if [ "${MANY:-0}" = 1 ]; then
  echo
  echo "Making 1,000,000 empty files (this takes a minute or two) ..."
  mkdir many && (cd many && seq -f 'scan_page_%g.txt' 1 1000000 | xargs touch)
  read -r t m < <(measure "'$batch' merge-files many out-many.txt --mode text --yes --quiet")
  awk -v t="$t" -v m="$m" 'BEGIN { printf "1,000,000 files listed and merged: %.1f s, peak memory %.1f MB\n", t, m / 1024 }'
fi
