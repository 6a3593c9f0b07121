#!/usr/bin/env bash
# The headless checker's benchmark: `relaymoth-cli verify` over a local farm of
# proxies shaped like a public list (half black-holed, a fifth refused, a tenth
# silent after accepting, the rest answering at once or after 0.5 s), all on
# 127.0.0.1, with the program's time-outs (connect 5 s, a page 12 s at most).
# Prints the wall time, peak resident memory and CPU time per proxy, the lower
# bound for that many connections in flight, and for up to 20 000 rows the same
# list through `xargs -P 200 curl --connect-timeout 5 -m 12`.
#   scripts/cli-bench.sh [ROWS [IN_FLIGHT]]      (default 10000 rows, 1000 in flight)
# RELAYMOTH_BENCH_CURL=0 leaves the curl one-liner out; RELAYMOTH_BENCH_ARGS adds
# options to the checker's command line (e.g. "--db /dev/null": no locations).
#
# The farm takes its ports below the ephemeral range (so the checker's own
# connections have all of it), at most 5000 a farm process (each process stays
# under the descriptor limit). A list larger than the ports writes each port as
# several rows the list counts as distinct: "127.0.0.1" and "localhost", untyped,
# HTTP and HTTPS (all plain HTTP proxies); every connection still goes to
# 127.0.0.1.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/build.sh

rows=${1:-10000}
in_flight=${2:-1000}
# Measured in the release build: the tests' build carries the sanitizers.
mkdir -p "$RM_LOGS"
rm_build_release >"$RM_LOGS/release-build.log" 2>&1 ||
  rm_die "the release build failed (see $RM_LOGS/release-build.log)"
cli="$RM_RELEASE_DIR/bin/relaymoth-cli"
[[ -x "$cli" ]] || rm_die "$cli is not built"
[[ -x /usr/bin/time ]] || rm_die "/usr/bin/time is missing (apt-get install time)"
dir="$RM_BUILD/cli-bench"
mkdir -p "$dir" "$RM_LOGS"
rm -f "$dir"/farm-*.env

variants=("127.0.0.1:%s" "127.0.0.1:%s@HTTP" "127.0.0.1:%s@HTTPS" "localhost:%s" "localhost:%s@HTTP"
  "localhost:%s@HTTPS")
ports=$rows
if ((rows > 25000)); then ports=$(((rows + ${#variants[@]} - 1) / ${#variants[@]})); fi
per_process=5000
processes=$(((ports + per_process - 1) / per_process))
python=/usr/bin/python3
[[ -x $python ]] || python=python3
pids=()
for ((k = 0; k < processes; k++)); do
  n=$per_process
  ((k == processes - 1)) && n=$((ports - k * per_process))
  low=$((1100 + k * 6000))
  timeout -k 5 1800 "$python" tests/e2e/verify_mix_farm.py --env-file "$dir/farm-$k.env" \
    --lifetime 1790 --rows "$n" --port-range "$low-$((low + 5999))" \
    >"$RM_LOGS/cli-bench-farm-$k.log" 2>&1 &
  pids+=($!)
done
rm_on_exit "kill ${pids[*]} 2>/dev/null"
for ((i = 0; i < 3000; i++)); do
  ready=$(ls "$dir"/farm-*.env 2>/dev/null | wc -l)
  ((ready == processes)) && break
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || rm_die "a farm process ended (see $RM_LOGS/cli-bench-farm-*.log)"
  done
  sleep 0.1
done
((ready == processes)) || rm_die "the proxy farm did not start (see $RM_LOGS/cli-bench-farm-*.log)"

# The list, and each row's kind (for the lower bound).
farm=$(for ((k = 0; k < processes; k++)); do sed -n 's/^FARM=//p' "$dir/farm-$k.env" | tr ';' '\n'; done)
list="$dir/list.txt"
kinds="$dir/kinds.txt"
: >"$list"
: >"$kinds"
for v in "${variants[@]}"; do
  awk -F, -v fmt="$v" '{ printf fmt "\n", $1 }' <<<"$farm" >>"$list"
  cut -d, -f2 <<<"$farm" >>"$kinds"
  (($(wc -l <"$list") >= rows)) && break
done
head -n "$rows" "$list" >"$list.tmp" && mv "$list.tmp" "$list"
head -n "$rows" "$kinds" >"$kinds.tmp" && mv "$kinds.tmp" "$kinds"

site="http://127.0.0.1:9/verify.html=RELAYMOTH-VERIFY-7731"
/usr/bin/time -v -o "$dir/time.txt" "$cli" verify --site "$site" --connect-timeout 5 --timeout 12 \
  --in-flight "$in_flight" --csv ${RELAYMOTH_BENCH_ARGS:-} "$list" >"$dir/out.csv" 2>"$dir/stderr.txt"
rc=$?
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/time.txt" |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$dir/time.txt")
working=$(awk -F, 'NR > 1 && $4 == 1' "$dir/out.csv" | wc -l)
checked=$(($(wc -l <"$dir/out.csv") - 1))

# The lower bound for this list with IN_FLIGHT connections: every row as short as
# the rules allow (a black hole the connect time-out, a silent proxy the receive
# time-out, a slow one its delay), the rows started in list order on the first
# free place.
bound=$("$python" - "$kinds" "$in_flight" <<'PY'
import heapq, sys
cost = {"hole": 5.0, "silent": 7.0, "slow": 0.5}
places = [0.0] * int(sys.argv[2])
end = 0.0
for kind in open(sys.argv[1]).read().split():
    t = heapq.heappop(places) + cost.get(kind, 0.0)
    end = max(end, t)
    heapq.heappush(places, t)
print("%.1f" % end)
PY
)
printf 'relaymoth-cli verify %6d rows, %5d in flight: %7.1f s wall (exit %d), %d checked, %d working\n' \
  "$rows" "$in_flight" "$wall" "$rc" "$checked" "$working"
printf '  lower bound for %d in flight %.1f s (%.2fx); with every row in flight 7.0 s (connect 5 s + longest live row 0.5 s = 5.5 s; silent rows take the 7 s receive time-out)\n' \
  "$in_flight" "$bound" "$(echo "$wall / $bound" | bc -l)"
printf '  peak resident %d KiB, CPU %.2f s in all, %.1f us a proxy\n' "$rss" "$cpu" \
  "$(echo "$cpu * 1000000 / $rows" | bc -l)"

if ((rows <= 20000)) && [[ "${RELAYMOTH_BENCH_CURL:-1}" != 0 ]] && command -v curl >/dev/null; then
  start=$(date +%s.%N)
  sed 's/@.*//' "$list" | xargs -P 200 -I{} curl -s -o /dev/null --connect-timeout 5 -m 12 \
    -x http://{} http://127.0.0.1:9/verify.html 2>/dev/null
  end=$(date +%s.%N)
  curl_wall=$(echo "$end - $start" | bc -l)
  printf 'xargs -P 200 curl     %6d rows: %7.1f s wall; relaymoth-cli takes %.2fx its time\n' \
    "$rows" "$curl_wall" "$(echo "$wall / $curl_wall" | bc -l)"
fi
exit 0
