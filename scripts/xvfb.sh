# A private headless X server for the Wine runs.
#   rm_xvfb_start   starts Xvfb on a free display, exports DISPLAY, and registers
#                   its shutdown with rm_on_exit (scripts/common.sh)
#   rm_xvfb_stop    stops it now (idempotent)
# shellcheck shell=bash

RM_XVFB_PID=""
RM_XVFB_GEOMETRY="${RELAYMOTH_XVFB_GEOMETRY:-1280x1024x24}"

rm_xvfb_start() {
  command -v Xvfb >/dev/null || rm_die "Xvfb is not installed"
  mkdir -p "$RM_LOGS"
  local fdfile
  fdfile=$(mktemp)
  # -displayfd: Xvfb picks a free display number itself and writes it once it
  # accepts connections, so parallel runs never collide and there is no polling
  # for a socket. setsid: a Ctrl-C meant for the program must not take the X
  # server down under it; the server goes when the script's clean-up says so.
  setsid Xvfb -displayfd 3 -screen 0 "$RM_XVFB_GEOMETRY" -nolisten tcp -noreset \
    3>"$fdfile" >>"$RM_LOGS/xvfb.log" 2>&1 &
  RM_XVFB_PID=$!
  rm_on_exit rm_xvfb_stop
  local i display=""
  for ((i = 0; i < 100; i++)); do
    display=$(head -n1 "$fdfile" 2>/dev/null)
    [[ -n "$display" ]] && break
    kill -0 "$RM_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$fdfile"
  if [[ -z "$display" ]]; then
    rm_xvfb_stop
    rm_die "Xvfb did not start (see $RM_LOGS/xvfb.log)"
  fi
  export DISPLAY=":$display"
}

rm_xvfb_stop() {
  [[ -n "$RM_XVFB_PID" ]] || return 0
  kill "$RM_XVFB_PID" 2>/dev/null
  wait "$RM_XVFB_PID" 2>/dev/null
  RM_XVFB_PID=""
}
