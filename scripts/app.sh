# Starting relaymoth.exe under Wine and closing it the way a user does.
#   rm_app_smoke [SCREENSHOT.png]   start, wait for the main window, optionally
#                                   take a screenshot, close it, expect exit 0
# Needs DISPLAY (rm_xvfb_start) and the prefix (rm_wine_prefix_ensure).
# shellcheck shell=bash

RM_APP_EXE="$RM_BUILD/win/bin/relaymoth.exe"
RM_APP_TITLE="紫晶梨自动换IP软件"

# Waits up to $2 seconds for a visible X window whose title is $1.
_rm_wait_for_window() {
  local title=$1 limit=$2 i
  for ((i = 0; i < limit * 5; i++)); do
    if LC_ALL=C.UTF-8 xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Waits up to $2 seconds for process $1 to end; its exit status is returned
# through RM_APP_EXIT (124 when it had to be killed).
_rm_wait_for_exit() {
  local pid=$1 limit=$2 i
  for ((i = 0; i < limit * 5; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      RM_APP_EXIT=$?
      return 0
    fi
    sleep 0.2
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  RM_APP_EXIT=124
  return 1
}

rm_app_smoke() {
  local screenshot=${1:-}
  [[ -f "$RM_APP_EXE" ]] || {
    rm_warn "$RM_APP_EXE is missing"
    return 1
  }
  rm_wine_env
  # Tests send nothing past this machine: no exit check after a switch (it
  # would ask a public echo page).
  if [[ -n "${RELAYMOTH_OFFLINE:-}" ]]; then
    wine reg add 'HKCU\Software\Quillworks\Relaymoth\Exit Check' /v 'Check after switch' \
      /t REG_DWORD /d 0 /f >/dev/null 2>&1
  fi
  wine "$RM_APP_EXE" &
  local pid=$!
  if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
    rm_warn "no window titled $RM_APP_TITLE appeared within 30 s"
    _rm_wait_for_exit "$pid" 0
    return 1
  fi
  if [[ -n "$screenshot" ]]; then
    mkdir -p "$(dirname "$screenshot")"
    sleep 0.5 # let the first paint reach the server
    import -display "$DISPLAY" -window root "$screenshot" && rm_log "screenshot: $screenshot"
  fi
  # taskkill without /f posts WM_CLOSE to the program's top-level windows, the
  # same message the close box ends in.
  wine taskkill /im relaymoth.exe >/dev/null 2>&1
  if ! _rm_wait_for_exit "$pid" 20; then
    rm_warn "relaymoth.exe did not exit within 20 s of WM_CLOSE"
    return 1
  fi
  if [[ $RM_APP_EXIT -ne 0 ]]; then
    rm_warn "relaymoth.exe exited with $RM_APP_EXIT after WM_CLOSE"
    return 1
  fi
  return 0
}

# rm_app_start_without_display: relaymoth.exe started where no window can be
# made (no display) ends at once with status 3 and says why on standard error.
# Runs in a headless phase: no Wine process of the prefix may hold a display.
rm_app_start_without_display() {
  [[ -f "$RM_APP_EXE" ]] || {
    rm_warn "$RM_APP_EXE is missing"
    return 1
  }
  rm_wine_env
  local log="$RM_LOGS/app-no-display.log" status
  (
    unset DISPLAY WAYLAND_DISPLAY
    timeout 60 wine "$RM_APP_EXE" >/dev/null 2>"$log"
  )
  status=$?
  if [[ $status -ne 3 ]]; then
    rm_warn "relaymoth.exe without a display exited with $status, not 3 (see $log)"
    return 1
  fi
  if ! grep -q '程序无法启动：' "$log"; then
    rm_warn "relaymoth.exe without a display did not say why on standard error (see $log)"
    return 1
  fi
  rm_log "relaymoth.exe without a display: $(grep -m1 '程序无法启动' "$log" | tr -d '\r')"
}
