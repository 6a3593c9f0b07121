#!/usr/bin/env bash
# The serve command's benchmark, in the release build: added latency through
# `relaymoth-cli serve` against the same upstream directly (p50/p99), one
# tunnel's throughput against direct, 10,000 tunnels open on its one thread
# (resident memory a tunnel; fewer when the descriptor limit cannot hold 20,000),
# and p50/p99 while a 10,000-row pool re-verifies. Needs microsocks and danted.
#   scripts/serve-bench.sh [SAMPLES]            (default 2000 requests a measure)
# RELAYMOTH_BENCH_PARTS=latency,throughput,tunnels,pool picks the measures.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/build.sh

mkdir -p "$RM_LOGS"
rm_build_release >"$RM_LOGS/release-build.log" 2>&1 ||
  rm_die "the release build failed (see $RM_LOGS/release-build.log)"
cli="$RM_RELEASE_DIR/bin/relaymoth-cli"
[[ -x "$cli" ]] || rm_die "$cli is not built"
for tool in microsocks danted; do
  command -v "$tool" >/dev/null || rm_die "$tool is missing (scripts/deps.sh)"
done
PYTHONDONTWRITEBYTECODE=1 exec python3 -u scripts/serve-bench.py "$cli" "${1:-2000}"
