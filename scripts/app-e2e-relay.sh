# The real relaymoth.exe verifies SOCKS5 rows and uses one through its local
# relay, against the local test servers (scripts/verify-servers.sh):
#   rm_app_e2e_relay OUT_DIR
# A prepared list of a SOCKS5 row (microsocks), a SOCKS5 row with a user name
# and password (microsocks -u/-P) and an HTTP proxy typed SOCKS5; "验证全部" from
# the proxy menu; both microsocks rows come out usable and the wrongly typed row
# failed. Switching to either microsocks row points the system proxy at
# 127.0.0.1:<relay port>, and a WinInet fetch through the system setting reaches
# the verify page through the relay and that microsocks (its log shows the
# connection). Needs DISPLAY, the prefix, scripts/app.sh,
# scripts/app-e2e.sh and scripts/verify-servers.sh.
# shellcheck shell=bash

# _e2e_relay_rows OUT: the main list's rows into OUT/rows-relay.txt.
_e2e_relay_rows() {
  wine "$RM_POST_TOOL" rows 2>/dev/null | tr -d '\r' >"$1/rows-relay.txt"
}

# _e2e_relay_row OUT PORT: the row line of 127.0.0.1:PORT
# ("address:port|location|type|status|result|ticked").
_e2e_relay_row() {
  # A row with a log-in shows its user name in front of the address.
  grep -m1 -E "^([^|@]*@)?127\.0\.0\.1:$2\|" "$1/rows-relay.txt"
}

# _e2e_server_hits NAME WEB_PORT: how many connections the SOCKS server NAME
# (microsocks, microsocks-auth) made to the web server, by its log.
_e2e_server_hits() {
  grep -c "connected to 127\.0\.0\.1:$2\$" "$RM_VERIFY_SERVERS_DIR/$1.log" 2>/dev/null
}

# _e2e_relay_use OUT ROW_PORT SERVER RELAY_PORT WEB_PORT: switches to the row of
# 127.0.0.1:ROW_PORT from the proxy menu; the system proxy must then be the
# relay, and a fetch through the system setting must reach the verify page
# through SERVER.
_e2e_relay_use() {
  local out=$1 row=$2 server=$3 relay=$4 web=$5 entry before after
  # The favorites in the menu are the ticked rows in list order (sorted by the run).
  entry=$(awk -F'|' -v row="127.0.0.1:$row" \
    '$6 == 1 { n++ } ($1 == row || substr($1, index($1, "@") + 1) == row) && $6 == 1 { print n; exit }' \
    "$out/rows-relay.txt")
  if [[ -z "$entry" ]] || ! wine "$RM_POST_TOOL" favorite $((entry - 1)) >/dev/null 2>&1; then
    _e2e_fail "could not switch to the $server row"
    return
  fi
  sleep 1
  _e2e_export 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' "$out/inet-$server.txt"
  _e2e_expect "$out/inet-$server.txt" "\"ProxyServer\"=\"127.0.0.1:$relay\"" \
    '"ProxyEnable"=dword:00000001'
  # A program of the user's, through the system setting: relay, then the server.
  before=$(_e2e_server_hits "$server" "$web")
  wine "$RM_POST_TOOL" fetch "http://127.0.0.1:$web/verify.html" 2>"$out/fetch-$server.err" |
    tr -d '\r' >"$out/fetch-$server.txt"
  grep -q RELAYMOTH-VERIFY-7731 "$out/fetch-$server.txt" ||
    _e2e_fail "no verify page through the system setting and $server: $(head -c 200 "$out/fetch-$server.txt" "$out/fetch-$server.err")"
  # A program outside Wine, whose owner the system there cannot name, is taken too.
  curl -s --max-time 10 -x "http://127.0.0.1:$relay" "http://127.0.0.1:$web/verify.html" \
    >"$out/curl-$server.txt" 2>&1
  grep -q RELAYMOTH-VERIFY-7731 "$out/curl-$server.txt" ||
    _e2e_fail "no verify page for curl through the relay and $server: $(head -c 200 "$out/curl-$server.txt")"
  sleep 0.3
  after=$(_e2e_server_hits "$server" "$web")
  ((after > before)) ||
    _e2e_fail "$server made no connection to the web server for the fetch (before $before, after $after)"
}

rm_app_e2e_relay() {
  local out=$1 pid i relay_port socks_port auth_port bad_port web_port
  RM_E2E_FAILS=0
  mkdir -p "$out"
  rm_wine_env
  if ! rm_verify_servers_start; then
    _e2e_fail "the local test servers did not start"
    return 1
  fi
  socks_port=${RELAYMOTH_TEST_MICROSOCKS_PORT:-}
  auth_port=${RELAYMOTH_TEST_MICROSOCKS_AUTH_PORT:-}
  bad_port=${RELAYMOTH_TEST_PROXY_PORT:-}
  web_port=${RELAYMOTH_TEST_WEB_PORT:-}
  if [[ -z "$socks_port" || -z "$auth_port" || -z "$bad_port" || -z "$web_port" ]]; then
    _e2e_fail "no microsocks (with and without a log-in), HTTP proxy or web server among the test servers"
    rm_verify_servers_stop
    return 1
  fi
  relay_port=$(_rm_free_port)
  # No best proxy taken, no rows deleted or unticked at the end of the run: the
  # rows stay as they are, with their results.
  cat >"$out/relay-rows.reg" <<REG
REGEDIT4

[-HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth]

[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]
"ProxyServer"=-
"ProxyEnable"=dword:00000000

[HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth\\Proxy List]
"FavoriteProxy"=dword:00000003
"FavoriteProxy_000"="127.0.0.1:$bad_port@SOCKS5"
"FavoriteProxy_001"="127.0.0.1:$socks_port@SOCKS5"
"FavoriteProxy_002"="127.0.0.1:$auth_port:$RELAYMOTH_TEST_PROXY_USER:$RELAYMOTH_TEST_PROXY_PASSWORD@SOCKS5"

[HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth\\Local Relay]
"Port"=dword:$(printf '%08x' "$relay_port")

[HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth\\Verify Settings]
"Verify new proxy"=dword:00000000
"Reverify by time"=dword:00000000
"Auto use the best proxy"=dword:00000000
"Auto delete failed proxies"=dword:00000000
"Reset favorite proxies with verify result"=dword:00000000

[HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth\\Destination Sites]
"Favorite site"=dword:00000001
"Favorite site_000_URL"="http://127.0.0.1:$web_port/verify.html"
"Favorite site_000_VerifyString"="RELAYMOTH-VERIFY-7731"
"Unfavorite site"=dword:00000000

[HKEY_CURRENT_USER\\Software\\Quillworks\\Relaymoth\\Exit Check]
"Check after switch"=dword:00000000
REG
  wine regedit /S "$(rm_winpath "$out/relay-rows.reg")" >/dev/null 2>&1
  wine "$RM_APP_EXE" &
  pid=$!
  if ! _rm_wait_for_window "$RM_APP_TITLE" 30; then
    _rm_wait_for_exit "$pid" 0
    _e2e_fail "no window at the relay rows start"
    rm_verify_servers_stop
    return 1
  fi
  sleep 0.5
  wine "$RM_POST_TOOL" verify-all >/dev/null 2>&1 || _e2e_fail "could not post 验证全部"
  # Every row finished: each has a score in its result column.
  local good auth bad
  for ((i = 0; i < 40; i++)); do
    sleep 0.5
    _e2e_relay_rows "$out"
    good=$(_e2e_relay_row "$out" "$socks_port")
    auth=$(_e2e_relay_row "$out" "$auth_port")
    bad=$(_e2e_relay_row "$out" "$bad_port")
    [[ "$(cut -d'|' -f5 <<<"$good")" == \[* && "$(cut -d'|' -f5 <<<"$auth")" == \[* &&
      "$(cut -d'|' -f5 <<<"$bad")" == \[* ]] && break
  done
  [[ "$(cut -d'|' -f3 <<<"$good")" == SOCKS5 ]] || _e2e_fail "the microsocks row: $good"
  [[ "$(cut -d'|' -f5 <<<"$good")" =~ ^\[[1-9] ]] ||
    _e2e_fail "the microsocks row is not usable: $good"
  [[ "$(cut -d'|' -f3 <<<"$auth")" == "SOCKS5 (密码)" ]] || _e2e_fail "the row with a log-in: $auth"
  [[ "$(cut -d'|' -f5 <<<"$auth")" =~ ^\[[1-9] ]] ||
    _e2e_fail "the microsocks row with a log-in is not usable: $auth"
  [[ "$(cut -d'|' -f5 <<<"$bad")" == \[0\]* ]] ||
    _e2e_fail "the HTTP proxy typed SOCKS5 did not fail: $bad"

  _e2e_relay_use "$out" "$socks_port" microsocks "$relay_port" "$web_port"
  _e2e_relay_use "$out" "$auth_port" microsocks-auth "$relay_port" "$web_port"

  wine "$RM_POST_TOOL" close >/dev/null 2>&1
  _rm_wait_for_exit "$pid" 20 || _e2e_fail "no exit within 20 s of WM_CLOSE"
  rm_verify_servers_stop
  [[ $RM_E2E_FAILS -eq 0 ]]
}
