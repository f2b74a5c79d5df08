#!/usr/bin/env bash
# Times `quorvane-batch merge-folders` against `find ... -exec cp -t` and `cp` on the same data,
# in one run, and prints paired ratios and peak memory. Run by hand after a build:
#   bench/bench_folders.sh [build folder] [work folder]
#   REPEAT=7 bench/bench_folders.sh      # more pairs
# Data (about 4.5 GB) is made in a temporary folder on the work folder's file system and
# removed at the end:
#   flat:  100,000 files of 4 KiB in 1,000 direct subfolders (one level, no --all-levels)
#   tree:  the same files two levels down, 10 folders of 100 folders (--all-levels)
#   large: 20 files of 200 MB
# Every run copies into a new, empty target folder, with no dirty pages left from the run
# before (made and synced outside the timing). The small files' targets are removed only after
# their runs: ext4 without a journal skips inodes freed in the last minutes when it makes new
# ones, so removing 100,000 files just before a run would time the allocator's search instead
# of the copy (about 8 GB stays on disk meanwhile). The two commands of a pair run back to
# back, in alternating order, and each pair gives one ratio; the median of the ratios counts.
set -euo pipefail
here=$(dirname "$(realpath "$0")")

build=$(realpath "${1:-$(dirname "$0")/../build}")
base=${2:-${TMPDIR:-/tmp}}
REPEAT=${REPEAT:-5}
batch=$build/quorvane-batch
[ -x "$batch" ] || { echo "build first: no $batch" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }

work=$(mktemp -d "$base/quorvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making data in $work ..."
mkdir flat tree large
for k in $(seq -f '%03g' 0 999); do
  mkdir "flat/d$k" && head -c $((100 * 4096)) /dev/urandom | split -a 2 -d -b 4096 - "flat/d$k/f${k}_"
done
for j in $(seq 0 9); do mkdir "tree/g$j" && cp -al flat/d"$j"?? "tree/g$j/"; done
head -c 200000000 /dev/urandom > large/big1.bin
for i in $(seq 2 20); do cp large/big1.bin "large/big$i.bin"; done
echo "  flat $(find flat -type f | wc -l) files, tree $(find tree -type f | wc -l) files," \
     "large $(du -sh large | cut -f1)"

# A new empty target for the next run, named in $T; KEEP=0 removes the one before.
runs=0
fresh() {
  [ "${KEEP:-1}" = 0 ] && [ -n "${T:-}" ] && rm -rf "$work/$T"
  runs=$((runs + 1)); export T=out$runs
  mkdir "$work/$T" && sync
}

before_run() { fresh; }
source "$here/pairs.sh"

# Both sides must leave the same files in the target.
check() {
  fresh; bash -c "$1" >/dev/null 2>&1; (cd "$T" && find . -type f -exec md5sum {} + | sort) > ours.sum
  fresh; bash -c "$2" >/dev/null 2>&1; (cd "$T" && find . -type f -exec md5sum {} + | sort) > theirs.sum
  cmp -s ours.sum theirs.sum || { echo "different results for: $1" >&2; exit 1; }
}

ours_flat="'$batch' merge-folders flat --target \"\$T\" --yes --quiet"
ours_tree="'$batch' merge-folders tree --target \"\$T\" --all-levels --yes --quiet"
ours_large="'$batch' merge-folders large --target \"\$T\" --yes --quiet"
cp_flat="find flat -type f -exec cp -t \"\$T\" {} +"
cp_tree="find tree -type f -exec cp -t \"\$T\" {} +"
cp_large="cp -t \"\$T\" large/*"

echo
echo "$REPEAT pairs each; ratio = median of the pairs' quorvane / other."
pair "100000 x 4 KiB, one level vs find+cp" "$ours_flat" "$cp_flat"
pair "100000 x 4 KiB, all levels vs find+cp" "$ours_tree" "$cp_tree"
check "$ours_flat" "$cp_flat"
check "$ours_tree" "$cp_tree"
rm -rf out*
KEEP=0
pair "20 x 200 MB vs cp" "$ours_large" "$cp_large"
check "$ours_large" "$cp_large"
echo "The targets hold the same files with the same contents on both sides."

# How the bytes moved: the kernel's copy (copy_file_range), a reflink (shared extents), or
# reads and writes through the program.
if command -v strace >/dev/null; then
  fresh
  strace -f -c -o syscalls.txt -e trace=copy_file_range,ioctl,read,write bash -c "$ours_large" >/dev/null 2>&1
  calls() { awk -v s="$1" '$NF == s { print $(NF - 2) + 0; found = 1 } END { if (!found) print 0 }' syscalls.txt; }
  echo "Large files: $(calls copy_file_range) copy_file_range calls, $(calls read) reads," \
       "$(calls write) writes in quorvane-batch and its shell."
fi
shared=no
if command -v filefrag >/dev/null && filefrag -v "$T/big1.bin" 2>/dev/null | grep -q shared; then
  shared=yes
fi
echo "File system $(stat -f -c %T "$T"); copies share extents with their sources (reflink): $shared."
