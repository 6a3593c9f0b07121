#!/usr/bin/env bash
# Runs relaymoth_win_tests.exe (already built) under Wine on a private Xvfb with
# the verification test servers running, for quick runs of a subset:
#   scripts/verify-wine-tests.sh '--gtest_filter=VerifyWorker*:WinInet*'
# Honours RELAYMOTH_BUILD_DIR like ./test; RELAYMOTH_TEST_EXE picks another exe.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/build.sh
source scripts/wine.sh
source scripts/xvfb.sh
source scripts/verify-servers.sh

exe="${RELAYMOTH_TEST_EXE:-$RM_WIN_DIR/bin/relaymoth_win_tests.exe}"
[[ -f "$exe" ]] || rm_die "$exe is not built"
rm_wine_prefix_ensure || rm_die "no Wine prefix"
rm_wine_stop
rm_xvfb_start
rm_on_exit rm_wine_stop 15
rm_verify_servers_start || rm_die "the verify test servers did not start"
(
  cd "$(dirname "$exe")" || exit 1
  timeout "${RELAYMOTH_WIN_TEST_TIMEOUT:-600}" wine "./$(basename "$exe")" "$@" 2>&1 | tr -d '\r'
  exit "${PIPESTATUS[0]}"
)
