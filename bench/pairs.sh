# Shared by the benchmarks: paired timing of quorvane against a standard tool. Source it after
# setting $work (a scratch folder) and REPEAT. A script may define before_run, called before
# every single run (a fresh target folder, say); by default it does nothing.

# Runs a shell command and prints "seconds peak_kib".
measure() {
  /usr/bin/time -o "$work/time.out" -f '%e %M' bash -c "$1" >/dev/null 2>&1
  tail -1 "$work/time.out"
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

declare -F before_run >/dev/null || before_run() { :; }

# pair NAME OURS THEIRS: REPEAT pairs in alternating order after one warm-up run each; each
# pair gives the ratio ours / theirs, and the median of the ratios is printed with the median
# times and the peak memory of each side.
pair() {
  local name=$1 ours=$2 theirs=$3 ratios=() our_times=() their_times=() om=0 tm=0 a b am bm
  before_run; bash -c "$ours" >/dev/null 2>&1; before_run; bash -c "$theirs" >/dev/null 2>&1
  for r in $(seq "$REPEAT"); do
    if [ $((r % 2)) -eq 1 ]; then
      before_run; read -r a am < <(measure "$ours"); before_run; read -r b bm < <(measure "$theirs")
    else
      before_run; read -r b bm < <(measure "$theirs"); before_run; read -r a am < <(measure "$ours")
    fi
    our_times+=("$a"); their_times+=("$b")
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')")
    [ "$am" -gt "$om" ] && om=$am; [ "$bm" -gt "$tm" ] && tm=$bm
  done
  awk -v n="$name" -v a="$(printf '%s\n' "${our_times[@]}" | median)" \
      -v b="$(printf '%s\n' "${their_times[@]}" | median)" \
      -v r="$(printf '%s\n' "${ratios[@]}" | median)" -v ma="$om" -v mb="$tm" 'BEGIN {
    printf "%-40s quorvane %6.2f s %6.1f MB | other %6.2f s %6.1f MB | ratio %.2f\n",
           n, a, ma / 1024, b, mb / 1024, r }'
}
