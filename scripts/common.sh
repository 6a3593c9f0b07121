# Shared helpers for ./run, ./test and the scripts here: paths, messages, timing,
# and one EXIT trap that runs the registered clean-ups in reverse order.
# Source it; it sets no shell options of its own.
# shellcheck shell=bash

RM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RM_BUILD="${RELAYMOTH_BUILD_DIR:-$RM_ROOT/build}"
RM_LOGS="$RM_BUILD/logs"

rm_log() { printf '==> %s\n' "$*" >&2; }
rm_warn() { printf 'warning: %s\n' "$*" >&2; }
rm_die() {
  printf 'error: %s\n' "$*" >&2
  exit 1
}

# ---- clean-up on exit -------------------------------------------------------
RM_CLEANUPS=()
# rm_on_exit CMD...: run CMD when the script exits, however it exits.
rm_on_exit() { RM_CLEANUPS+=("$*"); }
_rm_run_cleanups() {
  local i
  for ((i = ${#RM_CLEANUPS[@]} - 1; i >= 0; i--)); do
    eval "${RM_CLEANUPS[i]}" || true
  done
  RM_CLEANUPS=()
}
trap _rm_run_cleanups EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- timing -----------------------------------------------------------------
RM_TIMINGS=()
_rm_now() { date +%s.%N; }
# rm_timed LABEL CMD...: runs CMD, records how long it took, returns its status.
rm_timed() {
  local label=$1
  shift
  local start end rc
  start=$(_rm_now)
  "$@"
  rc=$?
  end=$(_rm_now)
  RM_TIMINGS+=("$(awk -v l="$label" -v s="$start" -v e="$end" -v f="$([[ $rc -ne 0 ]] && echo '  (failed)')" \
    'BEGIN { printf "%-22s %7.1f s%s", l, e - s, f }')")
  return $rc
}
rm_print_timings() {
  [[ ${#RM_TIMINGS[@]} -eq 0 ]] && return 0
  echo "timings:"
  local line
  for line in "${RM_TIMINGS[@]}"; do echo "  $line"; done
}

# ---- build folders ----------------------------------------------------------
# rm_forget_moved_build DIR: a build folder that CMake configured for another
# source folder (the checkout was moved or copied, build folder and all) cannot
# be configured again: CMake stops at its cache. Its contents name the old paths
# throughout, so the folder goes and is configured afresh.
rm_forget_moved_build() {
  local dir=$1 cache="$1/CMakeCache.txt" home
  [[ -f "$cache" ]] || return 0
  home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
  [[ -z "$home" || "$(realpath -m "$home")" == "$(realpath -m "$RM_ROOT")" ]] && return 0
  rm_log "$dir was configured for $home: configuring it afresh for $RM_ROOT"
  rm -rf "$dir"
}
