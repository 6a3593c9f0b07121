#!/usr/bin/env bash
# The verification benchmark: a farm of local proxies (one asyncio process on
# many ports of 127.0.0.1: fast, slow, dead and, with --black-hole, silent ones)
# verified by relaymoth-verify-bench.exe under Wine with the real scheduler,
# thread pool and WinInet. Prints the wall time against the bound (sum of the
# per-row times / workers) and the UI thread's message latency.
#   scripts/verify-bench.sh [--mix|--endless|--socks5] [ROWS [THREADS]]   (default 1000 rows, 200 workers)
# --mix shapes the farm like a public list (half black-holed, a fifth refused, a
# tenth silent after accepting, the rest answering fast or after 0.5 s) and also
# times `xargs -P THREADS curl --connect-timeout 5 -m 12` over the same farm.
# --endless: the same farm with endless pages from the answering proxies (memory).
# --socks5: two farms of that shape side by side, one of HTTP proxies and one of
# SOCKS5 servers, each verified in turn in one run as rows typed HTTP and SOCKS5
# (typed, so no row waits on type detection; SOCKS5 rows go through the
# verification's relay), with the ratio of the wall times;
# RELAYMOTH_BENCH_REPEAT=N runs each N times, alternating which goes first.
# RELAYMOTH_BENCH_DETECT=0 switches type detection of the untyped rows off;
# RELAYMOTH_BENCH_BLACK_HOLE=0 leaves the silent proxies out of the plain farm;
# RELAYMOTH_BENCH_GATE=0 runs without the connect gate; RELAYMOTH_BENCH_CURL=0 leaves
# the curl one-liner out of a --mix run.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/build.sh
source scripts/wine.sh
source scripts/xvfb.sh

mix=
case "${1:-}" in
  --mix) mix=mix; shift ;;
  --endless) mix=endless; shift ;;
  --socks5) mix=socks5; shift ;;
esac
rows=${1:-1000}
threads=${2:-200}
exe="$RM_WIN_DIR/bin/relaymoth-verify-bench.exe"
[[ -f "$exe" ]] || rm_die "$exe is not built (scripts/build.sh)"
mkdir -p "$RM_BUILD/verify-bench" "$RM_LOGS"
env_file="$RM_BUILD/verify-bench/farm.env"
rm -f "$env_file"
python=/usr/bin/python3
[[ -x $python ]] || python=python3
black_hole=(--black-hole)
[[ "${RELAYMOTH_BENCH_BLACK_HOLE:-1}" == 0 ]] && black_hole=()
# start_farm ENV_FILE ARGS...: a farm in the background, ready when ENV_FILE exists.
start_farm() {
  local file=$1
  shift
  rm -f "$file"
  timeout -k 5 900 "$python" "$@" --env-file "$file" >>"$RM_LOGS/verify-bench-farm.log" 2>&1 &
  rm_on_exit "kill $! 2>/dev/null"
}
# wait_farm ENV_FILE: the farm's FARM= line (a farm of thousands of ports, black
# holes first, takes a while to set up).
wait_farm() {
  local i
  for ((i = 0; i < 6000; i++)); do
    [[ -f "$1" ]] && break
    sleep 0.1
  done
  [[ -f "$1" ]] || rm_die "the proxy farm did not start (see $RM_LOGS/verify-bench-farm.log)"
  sed -n 's/^FARM=//p' "$1"
}
: >"$RM_LOGS/verify-bench-farm.log"
mix_farm=(tests/e2e/verify_mix_farm.py --lifetime 890 --rows "$rows"
  --slow-delay "${RELAYMOTH_BENCH_SLOW_DELAY:-0.5}")
if [[ "$mix" == socks5 ]]; then
  # Each farm on a port range of its own below the ephemeral range: a port one
  # farm leaves refused is then never a listener of the other farm, nor a port
  # of the verification's relay.
  span=$((rows * 3 / 2 + 1000))
  start_farm "$env_file" "${mix_farm[@]}" --port-range "1100-$((1100 + span - 1))"
  start_farm "$env_file.socks5" "${mix_farm[@]}" --socks5 \
    --port-range "$((1100 + span))-$((1100 + 2 * span - 1))"
elif [[ -n "$mix" ]]; then
  endless=()
  [[ "$mix" == endless ]] && endless=(--endless)
  start_farm "$env_file" "${mix_farm[@]}" "${endless[@]}"
else
  start_farm "$env_file" tests/e2e/verify_servers.py --lifetime 590 \
    --farm "$rows" --slow-delay "${RELAYMOTH_BENCH_SLOW_DELAY:-0.5}" "${black_hole[@]}"
fi
export RELAYMOTH_BENCH_FARM
RELAYMOTH_BENCH_FARM=$(wait_farm "$env_file")
[[ "$mix" == socks5 ]] && socks5_farm=$(wait_farm "$env_file.socks5")
export RELAYMOTH_BENCH_ROWS=$rows RELAYMOTH_BENCH_THREADS=$threads

rm_wine_prefix_ensure || rm_die "no Wine prefix"
rm_wine_stop
rm_xvfb_start
rm_on_exit rm_wine_stop 15
run_bench() {
  (
    cd "$(dirname "$exe")" || exit 1
    timeout 600 wine "./$(basename "$exe")" 2>&1 | tr -d '\r'
    exit "${PIPESTATUS[0]}"
  )
}
if [[ "$mix" == socks5 ]]; then
  http_farm=$RELAYMOTH_BENCH_FARM
  walls="$RM_BUILD/verify-bench/walls.txt"
  : >"$walls"
  rc=0
  for ((round = 0; round < ${RELAYMOTH_BENCH_REPEAT:-1}; round++)); do
    order=(HTTP SOCKS5)
    ((round % 2)) && order=(SOCKS5 HTTP)
    for type in "${order[@]}"; do
      if [[ $type == HTTP ]]; then
        RELAYMOTH_BENCH_FARM=$http_farm RELAYMOTH_BENCH_TYPE=HTTP run_bench >"$RM_BUILD/verify-bench/out.txt"
      else
        RELAYMOTH_BENCH_FARM=$socks5_farm RELAYMOTH_BENCH_TYPE=SOCKS5 run_bench >"$RM_BUILD/verify-bench/out.txt"
      fi
      status=$?
      ((status)) && rc=$status
      echo "== $type rows"
      cat "$RM_BUILD/verify-bench/out.txt"
      echo "$type $(sed -n 's/^wall time *\([0-9.]*\) ms$/\1/p' "$RM_BUILD/verify-bench/out.txt")" >>"$walls"
    done
  done
  awk '$2 != "" { sum[$1] += $2; n[$1]++ }
    END { h = sum["HTTP"] / n["HTTP"]; s = sum["SOCKS5"] / n["SOCKS5"];
          printf "HTTP rows   %8.0f ms wall (mean of %d)\nSOCKS5 rows %8.0f ms wall (mean of %d)\nSOCKS5 / HTTP %6.3f\n",
                 h, n["HTTP"], s, n["SOCKS5"], s / h }' "$walls"
  exit $rc
fi
run_bench
rc=$?

# The shell one-liner a user would script, over the same farm: one curl per
# proxy, THREADS at once, with the connect and overall time-outs the program
# promises. Each curl's own time gives its lower bound.
if [[ "$mix" == mix && "${RELAYMOTH_BENCH_CURL:-1}" != 0 ]] && command -v curl >/dev/null; then
  times="$RM_BUILD/verify-bench/curl-times.txt"
  : >"$times"
  start=$(date +%s.%N)
  tr ';' '\n' <<<"$RELAYMOTH_BENCH_FARM" | head -n "$rows" | cut -d, -f1 |
    xargs -P "$threads" -I{} curl -s -o /dev/null -w '%{time_total}\n' --connect-timeout 5 -m 12 \
      -x http://127.0.0.1:{} http://127.0.0.1:9/verify.html >>"$times" 2>/dev/null
  end=$(date +%s.%N)
  awk -v wall="$(echo "$end - $start" | bc)" -v workers="$threads" '
    { sum += $1; if ($1 > max) max = $1; n++ }
    END { printf "curl one-liner       %8.0f ms wall (%d rows; bound sum/workers %.0f ms, longest row %.0f ms)\n",
          wall * 1000, n, sum * 1000 / workers, max * 1000 }' "$times"
fi
exit $rc