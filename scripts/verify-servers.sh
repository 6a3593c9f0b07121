# The local servers of the verification tests: tests/e2e/verify_servers.py (web
# server, HTTP proxies that answer, lag, lie, stay silent or trickle, a dead
# port, an FTP server), a tinyproxy (one more with a user name and password),
# two microsocks (one with a user name and password), a dante server (SOCKS4,
# 4a with addresses, and 5) and a SOCKS4a server that takes only names
# (tests/e2e/socks4a_server.pl), all on 127.0.0.1. The proxies with a log-in
# take user "relay", password "moth-secret"
# (RELAYMOTH_TEST_PROXY_USER/_PASSWORD). Each stops by itself
# after RELAYMOTH_VERIFY_SERVERS_LIFETIME seconds and is killed when the calling
# script exits. Exports RELAYMOTH_TEST_<NAME>_PORT for the Windows tests (Wine
# passes the environment on).
#   source scripts/common.sh; source scripts/verify-servers.sh; rm_verify_servers_start
# shellcheck shell=bash

RM_VERIFY_SERVERS_DIR="$RM_BUILD/verify-servers"

# _rm_kill_pid FILE: ends the process whose id FILE holds, if it still runs.
_rm_kill_pid() {
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 0
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
  rm -f "$1"
  return 0
}

rm_verify_servers_stop() {
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/servers.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/tinyproxy.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/tinyproxy-auth.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/microsocks.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/microsocks-auth.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/dante.pid"
  _rm_kill_pid "$RM_VERIFY_SERVERS_DIR/socks4a.pid"
}

# _rm_start_server NAME LIFETIME COMMAND...: runs COMMAND in the background for at
# most LIFETIME seconds, its pid in NAME.pid and its output in NAME.log (microsocks
# logs each connection it makes there).
_rm_start_server() {
  local name=$1 lifetime=$2
  shift 2
  timeout -k 5 "$((${lifetime%.*} + 10))" "$@" >"$RM_VERIFY_SERVERS_DIR/$name.log" 2>&1 &
  echo $! >"$RM_VERIFY_SERVERS_DIR/$name.pid"
}

# The SOCKS servers and the HTTP proxy with a log-in that the relay tests use.
_rm_start_relay_upstreams() {
  local lifetime=$1 port
  export RELAYMOTH_TEST_PROXY_USER=relay RELAYMOTH_TEST_PROXY_PASSWORD=moth-secret
  if command -v microsocks >/dev/null; then
    port=$(_rm_free_port)
    _rm_start_server microsocks "$lifetime" microsocks -i 127.0.0.1 -p "$port"
    export RELAYMOTH_TEST_MICROSOCKS_PORT=$port
    port=$(_rm_free_port)
    _rm_start_server microsocks-auth "$lifetime" microsocks -i 127.0.0.1 -p "$port" \
      -u "$RELAYMOTH_TEST_PROXY_USER" -P "$RELAYMOTH_TEST_PROXY_PASSWORD"
    export RELAYMOTH_TEST_MICROSOCKS_AUTH_PORT=$port
  else
    rm_warn "microsocks is not installed; its tests are skipped"
  fi
  if [[ -x /usr/sbin/danted ]]; then
    port=$(_rm_free_port)
    # Outgoing connections only to this machine: the tests reach their own servers.
    cat >"$RM_VERIFY_SERVERS_DIR/danted.conf" <<EOF
logoutput: stderr
internal: 127.0.0.1 port = $port
external: 127.0.0.1
clientmethod: none
socksmethod: none
user.privileged: root
user.unprivileged: nobody
client pass {
  from: 127.0.0.0/8 to: 0.0.0.0/0
}
socks pass {
  from: 127.0.0.0/8 to: 127.0.0.0/8
  command: connect
}
EOF
    _rm_start_server dante "$lifetime" /usr/sbin/danted -f "$RM_VERIFY_SERVERS_DIR/danted.conf" \
      -p "$RM_VERIFY_SERVERS_DIR/danted.own.pid"
    export RELAYMOTH_TEST_DANTE_PORT=$port
  else
    rm_warn "dante-server is not installed; its tests are skipped"
  fi
  # dante reads a SOCKS4a name's 0.0.0.1 marker as the address: names go to this one.
  if perl -MIO::Socket::Socks -e 1 2>/dev/null; then
    port=$(_rm_free_port)
    _rm_start_server socks4a "$lifetime" perl "$RM_ROOT/tests/e2e/socks4a_server.pl" "$port"
    export RELAYMOTH_TEST_SOCKS4A_PORT=$port
  else
    rm_warn "libio-socket-socks-perl is not installed; the SOCKS4a name tests are skipped"
  fi
  if command -v tinyproxy >/dev/null; then
    port=$(_rm_free_port)
    cat >"$RM_VERIFY_SERVERS_DIR/tinyproxy-auth.conf" <<EOF
Port $port
Listen 127.0.0.1
Timeout 30
MaxClients 100
LogLevel Critical
Allow 127.0.0.1
BasicAuth $RELAYMOTH_TEST_PROXY_USER $RELAYMOTH_TEST_PROXY_PASSWORD
ConnectPort $RELAYMOTH_TEST_WEB_PORT
EOF
    _rm_start_server tinyproxy-auth "$lifetime" tinyproxy -d -c "$RM_VERIFY_SERVERS_DIR/tinyproxy-auth.conf"
    export RELAYMOTH_TEST_TINYPROXY_AUTH_PORT=$port
  fi
}

# Debian's python3 has python3-pyftpdlib; a python3 earlier on PATH may not.
_rm_verify_python() {
  if [[ -x /usr/bin/python3 ]]; then echo /usr/bin/python3; else command -v python3; fi
}

_rm_free_port() {
  "$(_rm_verify_python)" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

rm_verify_servers_start() {
  local lifetime=${RELAYMOTH_VERIFY_SERVERS_LIFETIME:-900}
  mkdir -p "$RM_VERIFY_SERVERS_DIR" "$RM_LOGS"
  rm_verify_servers_stop
  local env_file="$RM_VERIFY_SERVERS_DIR/ports.env"
  rm -f "$env_file"
  timeout -k 5 "$((${lifetime%.*} + 10))" "$(_rm_verify_python)" "$RM_ROOT/tests/e2e/verify_servers.py" \
    --env-file "$env_file" --lifetime "$lifetime" >"$RM_LOGS/verify-servers.log" 2>&1 &
  echo $! >"$RM_VERIFY_SERVERS_DIR/servers.pid"
  rm_on_exit rm_verify_servers_stop
  local i
  for ((i = 0; i < 100; i++)); do
    [[ -f "$env_file" ]] && break
    sleep 0.1
  done
  if [[ ! -f "$env_file" ]]; then
    rm_warn "the verify test servers did not start (see $RM_LOGS/verify-servers.log)"
    return 1
  fi
  local name port
  while IFS='=' read -r name port; do
    [[ -n "$name" ]] && export "RELAYMOTH_TEST_${name}_PORT=$port"
  done <"$env_file"

  if command -v tinyproxy >/dev/null; then
    port=$(_rm_free_port)
    cat >"$RM_VERIFY_SERVERS_DIR/tinyproxy.conf" <<EOF
Port $port
Listen 127.0.0.1
Timeout 30
MaxClients 300
LogLevel Critical
Allow 127.0.0.1
EOF
    # -d: stay in the foreground, so that the pid is tinyproxy's own.
    timeout -k 5 "$((${lifetime%.*} + 10))" tinyproxy -d -c "$RM_VERIFY_SERVERS_DIR/tinyproxy.conf" \
      >>"$RM_LOGS/verify-servers.log" 2>&1 &
    echo $! >"$RM_VERIFY_SERVERS_DIR/tinyproxy.pid"
    export RELAYMOTH_TEST_TINYPROXY_PORT=$port
  else
    rm_warn "tinyproxy is not installed; its test is skipped"
  fi
  _rm_start_relay_upstreams "$lifetime"
  rm_log "verify test servers: $(tr '\n' ' ' <"$env_file")$(env | grep -E '^RELAYMOTH_TEST_(TINYPROXY|MICROSOCKS|DANTE)' | sed 's/^RELAYMOTH_TEST_//; s/_PORT=/=/' | tr '\n' ' ')"
}
