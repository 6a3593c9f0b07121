# The real relaymoth.exe end to end, in the test prefix, driven from outside with
# relaymoth-post-message.exe:
#   rm_app_e2e SHOT_DIR   prepared registry -> start -> screenshots (floating
#                         window, proxy menu, main dialog) -> a second start ends
#                         at once -> WM_CLOSE saves the list and the position and
#                         leaves the proxy -> restart -> "不使用ip" turns the
#                         proxy off and keeps its server text -> the exit command
#                         puts back the user's own setting and ends with exit code 1
#                         -> a switch to the local relay's port, then the
#                         program killed: its guard process puts the setting back
#                         -> rows typed and ticked, the program killed at a random
#                         moment after: the next start has the whole list from
#                         before or after the change (RM_KILL_RUNS runs, 12)
# Needs DISPLAY (rm_xvfb_start), the prefix and scripts/app.sh.
# shellcheck shell=bash

RM_POST_TOOL="$RM_BUILD/win/bin/relaymoth-post-message.exe"
RM_E2E_FAILS=0

_e2e_fail() {
  rm_warn "end-to-end: $*"
  RM_E2E_FAILS=$((RM_E2E_FAILS + 1))
}

# _e2e_export KEY FILE: the key as UTF-8 text (wine reg writes UTF-16).
_e2e_export() {
  local tmp="$RM_BUILD/e2e/export.reg"
  rm -f "$tmp"
  wine reg export "$1" "$(rm_winpath "$tmp")" /y >/dev/null 2>&1 || return 1
  iconv -f UTF-16LE -t UTF-8 "$tmp" | tr -d '\r' | sed 's/^\xEF\xBB\xBF//' >"$2"
}

# _e2e_expect FILE LINE...: each LINE must be a whole line of FILE.
_e2e_expect() {
  local file=$1 line
  shift
  for line in "$@"; do
    grep -qxF -- "$line" "$file" || _e2e_fail "missing in $(basename "$file"): $line"
  done
}

# Lines that begin with the given texts (a saved row ends with its location,
# which comes from the location database).
_e2e_expect_start() {
  local file=$1 prefix
  shift
  for prefix in "$@"; do
    awk -v p="$prefix" 'index($0, p) == 1 { found = 1 } END { exit !found }' "$file" ||
      _e2e_fail "no line in $(basename "$file") begins with: $prefix"
  done
}

_e2e_absent() {
  local file=$1 line
  shift
  for line in "$@"; do
    if grep -qF -- "$line" "$file"; then _e2e_fail "still in $(basename "$file"): $line"; fi
  done
}

_e2e_prepare_registry() {
  local reg="$RM_BUILD/e2e/prepared.reg"
  cat >"$reg" <<'REG'
REGEDIT4

[-HKEY_CURRENT_USER\Software\Quillworks\Relaymoth]

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"
"ProxyEnable"=dword:00000001

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]
"FavoriteProxy"=dword:00000003
"FavoriteProxy_000"="5.5.5.5:8080"
"FavoriteProxy_001"="1.2.3.4:80"
"FavoriteProxy_002"="61.135.169.125:80"
"UnfavoriteProxy"=dword:00000004
"UnfavoriteProxy_000"="6.6.6.6:3128"
"UnfavoriteProxy_001"="not a proxy"
"UnfavoriteProxy_002"="5.5.5.5:8080"
"UnfavoriteProxy_003"="202.96.128.86:8080"

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Exit Check]
"Check after switch"=dword:00000000

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Window Position]
"WindowPosLeft"=dword:00000064
"WindowPosTop"=dword:000000c8
REG
  wine regedit /S "$(rm_winpath "$reg")" >/dev/null 2>&1
}

_e2e_window_count() {
  LC_ALL=C.UTF-8 xdotool search --onlyvisible --name "^${RM_APP_TITLE}\$" 2>/dev/null | wc -l
}

rm_app_e2e() {
  local shots=$1 out="$RM_BUILD/e2e"
  RM_E2E_FAILS=0
  mkdir -p "$out" "$shots"
  rm_wine_env
  [[ -f "$RM_APP_EXE" && -f "$RM_POST_TOOL" ]] || {
    rm_warn "relaymoth.exe or relaymoth-post-message.exe is missing"
    return 1
  }
  _e2e_prepare_registry || _e2e_fail "could not prepare the registry"

  # First start.
  wine "$RM_APP_EXE" &
  local pid=$!
  if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
    _rm_wait_for_exit "$pid" 0
    _e2e_fail "no window appeared"
    return 1
  fi
  sleep 1
  import -display "$DISPLAY" -window root "$shots/app-start.png" 2>/dev/null
  wine "$RM_POST_TOOL" rows 2>/dev/null | tr -d '\r' >"$out/rows.txt"
  # The saved favorites, then the others; the refused value and the duplicate
  # are skipped. The setting read back (http=1.2.3.4:80) names the saved
  # 1.2.3.4:80, which is then the proxy in use: no row of its own.
  if [[ "$(cut -d'|' -f1 "$out/rows.txt" | tr '\n' ' ')" != \
    "5.5.5.5:8080 1.2.3.4:80 61.135.169.125:80 6.6.6.6:3128 202.96.128.86:8080 " ]]; then
    _e2e_fail "rows after start: $(tr '\n' ' ' <"$out/rows.txt")"
  fi
  # The proxy menu, opened where a right click on the window would open it.
  wine "$RM_POST_TOOL" menu 110 225 >/dev/null 2>&1
  sleep 1
  import -display "$DISPLAY" -window root "$shots/app-menu.png" 2>/dev/null
  wine "$RM_POST_TOOL" cancel-menu >/dev/null 2>&1
  sleep 0.5

  # A second copy ends at once, without a window of its own.
  local before after start_s end_s rc
  before=$(_e2e_window_count)
  start_s=$(date +%s)
  timeout 20 wine "$RM_APP_EXE"
  rc=$?
  end_s=$(date +%s)
  after=$(_e2e_window_count)
  [[ $rc -eq 0 ]] || _e2e_fail "second copy exited with $rc"
  ((end_s - start_s <= 10)) || _e2e_fail "second copy took $((end_s - start_s)) s"
  [[ "$before" == "$after" ]] || _e2e_fail "windows before/after the second copy: $before/$after"
  kill -0 "$pid" 2>/dev/null || _e2e_fail "the first copy ended with the second"

  # Drag the window with the left button by 200, 100 (from 100, 200).
  xdotool mousemove 116 216 && sleep 0.3 && xdotool mousedown 1 && sleep 0.3
  local i
  for ((i = 1; i <= 10; i++)); do
    xdotool mousemove $((116 + i * 20)) $((216 + i * 10))
    sleep 0.1
  done
  xdotool mouseup 1
  sleep 0.5

  # WM_CLOSE: saves, leaves the proxy, exit code 0.
  wine "$RM_POST_TOOL" close >/dev/null 2>&1 || _e2e_fail "could not post WM_CLOSE"
  if ! _rm_wait_for_exit "$pid" 20; then
    _e2e_fail "no exit within 20 s of WM_CLOSE"
  elif [[ $RM_APP_EXIT -ne 0 ]]; then
    _e2e_fail "exit code $RM_APP_EXIT after WM_CLOSE"
  fi
  _e2e_export 'HKCU\Software\Quillworks\Relaymoth' "$out/profile.txt" ||
    _e2e_fail "could not export the profile"
  # Each row is saved as its full line.
  _e2e_expect "$out/profile.txt" \
    '"FavoriteProxy"=dword:00000003' \
    '"UnfavoriteProxy"=dword:00000002' \
    '"WindowPosLeft"=dword:0000012c' \
    '"WindowPosTop"=dword:0000012c'
  _e2e_expect_start "$out/profile.txt" \
    '"FavoriteProxy_000"="5.5.5.5:8080' \
    '"FavoriteProxy_001"="1.2.3.4:80' \
    '"FavoriteProxy_002"="61.135.169.125:80' \
    '"UnfavoriteProxy_000"="6.6.6.6:3128' \
    '"UnfavoriteProxy_001"="202.96.128.86:8080'
  _e2e_absent "$out/profile.txt" '"UnfavoriteProxy_002"' '"UnfavoriteProxy_003"' 'not a proxy' \
    '"FavoriteProxy_003"' '1.2.3.4:80@HTTP'
  _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet.txt"
  _e2e_expect "$out/inet.txt" '"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"' \
    '"ProxyEnable"=dword:00000001'

  # "不使用ip" turns the proxy off and keeps the server text; the exit command
  # puts back what the user had before that first switch (a per-protocol
  # setting, read back at start) and the process ends with code 1.
  # The saved position lies off the screen: the window comes back inside it.
  cat >"$out/offscreen.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Exit Check]
"Check after switch"=dword:00000000

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Window Position]
"WindowPosLeft"=dword:000186a0
"WindowPosTop"=dword:ffffffce
REG
  wine regedit /S "$(rm_winpath "$out/offscreen.reg")" >/dev/null 2>&1
  wine "$RM_APP_EXE" &
  pid=$!
  if _rm_wait_for_window "$RM_APP_TITLE" 30; then
    sleep 0.5
    wine "$RM_POST_TOOL" no-proxy >/dev/null 2>&1 || _e2e_fail "could not post 不使用ip"
    sleep 0.5
    _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet-direct.txt"
    _e2e_expect "$out/inet-direct.txt" '"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"' \
      '"ProxyEnable"=dword:00000000'
    wine "$RM_POST_TOOL" exit >/dev/null 2>&1 || _e2e_fail "could not post the exit command"
    if ! _rm_wait_for_exit "$pid" 20; then
      _e2e_fail "no exit within 20 s of the exit command"
    elif [[ $RM_APP_EXIT -ne 1 ]]; then
      _e2e_fail "exit code $RM_APP_EXIT after the exit command (want 1)"
    fi
    _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet2.txt"
    _e2e_expect "$out/inet2.txt" '"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"' \
      '"ProxyEnable"=dword:00000001'
    _e2e_export 'HKCU\Software\Quillworks\Relaymoth' "$out/profile2.txt"
    local left top width height
    left=$(sed -n 's/^"WindowPosLeft"=dword:\([0-9a-f]*\)$/\1/p' "$out/profile2.txt")
    top=$(sed -n 's/^"WindowPosTop"=dword:\([0-9a-f]*\)$/\1/p' "$out/profile2.txt")
    read -r width height < <(xdotool getdisplaygeometry 2>/dev/null)
    if [[ -z "$left" || -z "$top" || -z "$width" ]] || ((16#$left + 33 > width || 16#$top != 0)); then
      _e2e_fail "off-screen position not pulled back: left=$left top=$top screen=${width}x$height"
    fi
  else
    _rm_wait_for_exit "$pid" 0
    _e2e_fail "no window at the second start"
  fi
  _e2e_relay_guard "$out"
  _e2e_logins "$out"
  _e2e_kill_saves "$out"
  [[ $RM_E2E_FAILS -eq 0 ]]
}

# The program switches the system proxy to its local relay's port (a favorite
# row 127.0.0.1:PORT) and is killed (TerminateProcess, as a task manager
# does): its guard process puts back the setting from before the switch and
# drops the record.
_e2e_relay_guard() {
  local out=$1 pid wpid i
  cat >"$out/relay.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"
"ProxyEnable"=dword:00000001

[-HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]
"FavoriteProxy"=dword:00000001
"FavoriteProxy_000"="127.0.0.1:1080@SOCKS5"

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Local Relay]
"Port"=dword:000049d3

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Exit Check]
"Check after switch"=dword:00000000
REG
  wine regedit /S "$(rm_winpath "$out/relay.reg")" >/dev/null 2>&1
  wine "$RM_APP_EXE" &
  pid=$!
  if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
    _rm_wait_for_exit "$pid" 0
    _e2e_fail "no window at the relay start"
    return
  fi
  sleep 0.5
  # The menu's first favorite is the proxy read back at start, the second a
  # SOCKS5 row, which the system setting carries as the relay's address.
  wine "$RM_POST_TOOL" favorite 1 >/dev/null 2>&1 || _e2e_fail "could not switch to the SOCKS5 row"
  sleep 1
  _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet-relay.txt"
  _e2e_expect "$out/inet-relay.txt" '"ProxyServer"="127.0.0.1:18899"' '"ProxyEnable"=dword:00000001'
  _e2e_export 'HKCU\Software\Quillworks\Relaymoth' "$out/profile-relay.txt"
  grep -q '^"Setting Before Relay"="RM1 18899 ' "$out/profile-relay.txt" ||
    _e2e_fail "no record of the setting before the relay"
  wpid=$(wine "$RM_POST_TOOL" pid 2>/dev/null | tr -d '\r')
  if [[ -z "$wpid" ]] || ! wine taskkill /f /pid "$wpid" >/dev/null 2>&1; then
    _e2e_fail "could not kill relaymoth.exe (pid '$wpid')"
  fi
  _rm_wait_for_exit "$pid" 20
  # The guard wakes when the process ends; give it a few seconds.
  for ((i = 0; i < 25; i++)); do
    _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet-guard.txt"
    grep -qxF '"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"' "$out/inet-guard.txt" && break
    sleep 0.4
  done
  _e2e_expect "$out/inet-guard.txt" '"ProxyServer"="http=1.2.3.4:80;ftp=5.6.7.8:21"' \
    '"ProxyEnable"=dword:00000001'
  _e2e_export 'HKCU\Software\Quillworks\Relaymoth' "$out/profile-guard.txt"
  _e2e_absent "$out/profile-guard.txt" '"Setting Before Relay"'
}

# A row with a user name and password: shown marked, saved with its password
# sealed (never in plain text in the registry), and back with it at the next start.
_e2e_logins() {
  local out=$1 pid round
  cat >"$out/logins.reg" <<'REG'
REGEDIT4

[-HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]
"UnfavoriteProxy"=dword:00000001
"UnfavoriteProxy_000"="gw.example:8000:sess-1:Pa55w0rd@SOCKS5"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
"ProxyEnable"=dword:00000000
REG
  wine regedit /S "$(rm_winpath "$out/logins.reg")" >/dev/null 2>&1
  for round in typed saved; do
    wine "$RM_APP_EXE" &
    pid=$!
    if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
      _rm_wait_for_exit "$pid" 0
      _e2e_fail "log-ins: no window ($round)"
      return
    fi
    sleep 0.5
    wine "$RM_POST_TOOL" rows 2>/dev/null | tr -d '\r' >"$out/login-rows.txt"
    _e2e_expect_start "$out/login-rows.txt" "sess-1@gw.example:8000||SOCKS5 (密码)|"
    wine "$RM_POST_TOOL" close >/dev/null 2>&1 || _e2e_fail "log-ins: could not post WM_CLOSE"
    _rm_wait_for_exit "$pid" 20 || _e2e_fail "log-ins: no exit within 20 s of WM_CLOSE"
    _e2e_export 'HKCU\Software\Quillworks\Relaymoth' "$out/login-profile.txt"
    _e2e_expect "$out/login-profile.txt" '"UnfavoriteProxy_000"="gw.example:8000@SOCKS5"' \
      '"ProxyLogins"=dword:00000001'
    _e2e_absent "$out/login-profile.txt" 'Pa55w0rd' 'sess-1'
  done
}

# _e2e_sorted_rows FILE: the running program's rows, sorted (a list comes back
# with its ticked rows first).
_e2e_sorted_rows() {
  wine "$RM_POST_TOOL" rows 2>/dev/null | tr -d '\r' | LC_ALL=C sort >"$1"
}

# The list is saved as it changes. Each run types two rows (one with a user
# name and password), ticks them on every other run, and kills the program
# (taskkill /f, as a task manager does) at a random moment 0 to 2.5 s after
# the change; the next start must have the whole list from before the change
# or the whole list after it, and the one after it when the kill came more
# than 1.5 s after the change (a second to gather changes, then the save).
_e2e_kill_saves() {
  local out=$1 runs=${RM_KILL_RUNS:-12} run pid wpid t0 delay killed_at lost=0 olds=0 news=0
  cat >"$out/kill.reg" <<'REG'
REGEDIT4

[-HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Proxy List]

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
"ProxyServer"=""
"ProxyEnable"=dword:00000000

[HKEY_CURRENT_USER\Software\Quillworks\Relaymoth\Exit Check]
"Check after switch"=dword:00000000
REG
  wine regedit /S "$(rm_winpath "$out/kill.reg")" >/dev/null 2>&1
  wine "$RM_APP_EXE" &
  pid=$!
  for ((run = 1; run <= runs; run++)); do
    if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
      _rm_wait_for_exit "$pid" 0
      _e2e_fail "kill run $run: no window"
      return
    fi
    sleep 0.3
    _e2e_sorted_rows "$out/kill-old.txt"
    wine "$RM_POST_TOOL" add "10.$run.0.1:80\$remark $run" "10.$run.0.2:1080:user$run:pw$run@SOCKS5" \
      >/dev/null 2>&1 || _e2e_fail "kill run $run: could not type the rows"
    if ((run % 2 == 0)); then
      wine "$RM_POST_TOOL" tick-selected >/dev/null 2>&1 || _e2e_fail "kill run $run: no tick"
    fi
    t0=$(date +%s%3N)
    _e2e_sorted_rows "$out/kill-new.txt"
    delay=$((RANDOM % 2500))
    while (($(date +%s%3N) - t0 < delay)); do sleep 0.05; done
    wpid=$(wine "$RM_POST_TOOL" pid 2>/dev/null | tr -d '\r')
    killed_at=$(($(date +%s%3N) - t0))
    if [[ -z "$wpid" ]] || ! wine taskkill /f /pid "$wpid" >/dev/null 2>&1; then
      _e2e_fail "kill run $run: could not kill relaymoth.exe (pid '$wpid')"
    fi
    _rm_wait_for_exit "$pid" 20
    # The next start is this run's check and the next run's beginning.
    wine "$RM_APP_EXE" &
    pid=$!
    if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
      _rm_wait_for_exit "$pid" 0
      _e2e_fail "kill run $run: no window after the kill"
      return
    fi
    sleep 0.3
    _e2e_sorted_rows "$out/kill-got.txt"
    if cmp -s "$out/kill-got.txt" "$out/kill-new.txt"; then
      news=$((news + 1))
    elif cmp -s "$out/kill-got.txt" "$out/kill-old.txt"; then
      olds=$((olds + 1))
      ((killed_at <= 1500)) || {
        lost=$((lost + 1))
        _e2e_fail "kill run $run: killed ${killed_at} ms after the change, the change was lost"
      }
    else
      _e2e_fail "kill run $run: killed ${killed_at} ms after the change, neither list came back"
      diff "$out/kill-new.txt" "$out/kill-got.txt" >&2
    fi
    echo "kill run $run: killed ${killed_at} ms after the change, $(wc -l <"$out/kill-got.txt") rows back"
  done
  wine "$RM_POST_TOOL" close >/dev/null 2>&1
  _rm_wait_for_exit "$pid" 20 || _e2e_fail "kill runs: no exit after WM_CLOSE"
  rm_log "kill runs: $runs, whole new list $news, whole old list $olds, changes lost $lost"
}
