#!/usr/bin/env bash
# The verification benchmark: a farm of local proxies (one asyncio process on
# many ports of 127.0.0.1: fast, slow, dead and, with --black-hole, silent ones)
# verified by relaymoth_verify_bench.exe under Wine with the real scheduler,
# thread pool and WinInet. Prints the wall time against the bound (sum of the
# per-row times / workers) and the UI thread's message latency.
#   scripts/verify-bench.sh [ROWS [THREADS]]      (default 1000 rows, 200 workers)
# RELAYMOTH_BENCH_BLACK_HOLE=0 leaves the silent proxies out.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/build.sh
source scripts/wine.sh
source scripts/xvfb.sh

rows=${1:-1000}
threads=${2:-200}
exe="$RM_WIN_DIR/bin/relaymoth_verify_bench.exe"
[[ -f "$exe" ]] || rm_die "$exe is not built (scripts/build.sh)"
mkdir -p "$RM_BUILD/verify-bench" "$RM_LOGS"
env_file="$RM_BUILD/verify-bench/farm.env"
rm -f "$env_file"
python=/usr/bin/python3
[[ -x $python ]] || python=python3
black_hole=(--black-hole)
[[ "${RELAYMOTH_BENCH_BLACK_HOLE:-1}" == 0 ]] && black_hole=()
timeout -k 5 600 "$python" tests/e2e/verify_servers.py --env-file "$env_file" --lifetime 590 \
  --farm "$rows" --slow-delay "${RELAYMOTH_BENCH_SLOW_DELAY:-0.5}" "${black_hole[@]}" \
  >"$RM_LOGS/verify-bench-farm.log" 2>&1 &
farm_pid=$!
rm_on_exit "kill $farm_pid 2>/dev/null"
for ((i = 0; i < 300; i++)); do
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
