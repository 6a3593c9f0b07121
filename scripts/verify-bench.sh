#!/usr/bin/env bash
# The verification benchmark: a farm of local proxies (one asyncio process on
# many ports of 127.0.0.1: fast, slow, dead and, with --black-hole, silent ones)
# verified by relaymoth-verify-bench.exe under Wine with the real scheduler,
# thread pool and WinInet. Prints the wall time against the bound (sum of the
# per-row times / workers) and the UI thread's message latency.
#   scripts/verify-bench.sh [--mix|--endless] [ROWS [THREADS]]   (default 1000 rows, 200 workers)
# --mix shapes the farm like a public list (half black-holed, a fifth refused, a
# tenth silent after accepting, the rest answering fast or after 0.5 s) and also
# times `xargs -P THREADS curl --connect-timeout 5 -m 12` over the same farm.
# --endless: the same farm with endless pages from the answering proxies (memory).
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
if [[ -n "$mix" ]]; then
  endless=()
  [[ "$mix" == endless ]] && endless=(--endless)
  timeout -k 5 900 "$python" tests/e2e/verify_mix_farm.py --env-file "$env_file" --lifetime 890 \
    --rows "$rows" --slow-delay "${RELAYMOTH_BENCH_SLOW_DELAY:-0.5}" "${endless[@]}" \
    >"$RM_LOGS/verify-bench-farm.log" 2>&1 &
else
  timeout -k 5 600 "$python" tests/e2e/verify_servers.py --env-file "$env_file" --lifetime 590 \
    --farm "$rows" --slow-delay "${RELAYMOTH_BENCH_SLOW_DELAY:-0.5}" "${black_hole[@]}" \
    >"$RM_LOGS/verify-bench-farm.log" 2>&1 &
fi
farm_pid=$!
rm_on_exit "kill $farm_pid 2>/dev/null"
# A farm of thousands of ports (black-holed ones filled first) takes minutes to set up.
for ((i = 0; i < 6000; i++)); do
  [[ -f "$env_file" ]] && break
  sleep 0.1
done
[[ -f "$env_file" ]] || rm_die "the proxy farm did not start (see $RM_LOGS/verify-bench-farm.log)"
export RELAYMOTH_BENCH_FARM
RELAYMOTH_BENCH_FARM=$(sed -n 's/^FARM=//p' "$env_file")
export RELAYMOTH_BENCH_ROWS=$rows RELAYMOTH_BENCH_THREADS=$threads

rm_wine_prefix_ensure || rm_die "no Wine prefix"
rm_wine_stop
rm_xvfb_start
rm_on_exit rm_wine_stop 15
(
  cd "$(dirname "$exe")" || exit 1
  timeout 600 wine "./$(basename "$exe")" 2>&1 | tr -d '\r'
  exit "${PIPESTATUS[0]}"
)
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