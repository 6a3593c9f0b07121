# Installs the Debian packages the build, the tests and the Wine runs need.
# Checks with dpkg first and only calls apt-get when something is missing.
#   source scripts/deps.sh; rm_ensure_deps      or      scripts/deps.sh
# shellcheck shell=bash

RM_APT_PACKAGES=(
  # native build and tests; OpenSSL for the headless checker's https pages
  cmake ninja-build g++ make python3 googletest libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev
  # inputs of the location database builder
  tor-geoipdb iso-codes
  # fuzz smoke run (scripts/fuzz-smoke.sh): clang with libFuzzer and the sanitizers
  clang libclang-rt-14-dev
  # the Windows build
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  # running it: Wine, fonts that cover Chinese, a headless X server, screenshots
  wine wine64 fonts-wine fonts-wqy-microhei xvfb xdotool imagemagick
  # X extensions Wine's display driver loads at run time (only "recommended" by
  # libwine, and recommendations are not installed here) and TLS for WinInet
  libxrender1 libxrandr2 libxcursor1 libxi6 libxfixes3 libxinerama1 libxcomposite1 libgnutls30
  # a Chinese locale for a second Windows test run in code page 936
  locales
  # local servers of the verification tests: an HTTP proxy and an FTP server,
  # the SOCKS servers the protocol, local relay and
  # headless checker tests talk to (the Perl SOCKS library runs a SOCKS4a server)
  tinyproxy python3-pyftpdlib microsocks dante-server libio-socket-socks-perl
  # the verification benchmarks' comparison one-liner, and the checker
  # benchmark's wall time and peak memory
  curl bc time
)

# Prints the packages of the list that are not installed.
rm_missing_packages() {
  local pkg
  for pkg in "${RM_APT_PACKAGES[@]}"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null | grep -q '^ii' || echo "$pkg"
  done
}

rm_ensure_deps() {
  local missing
  mapfile -t missing < <(rm_missing_packages)
  [[ ${#missing[@]} -eq 0 ]] && return 0
  rm_log "installing ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || rm_die "missing packages (${missing[*]}) and not root"
    sudo=(sudo)
  fi
  # No recommended packages: Wine's recommendations alone are hundreds of MB
  # (GStreamer, Mesa, CUPS) that nothing here uses.
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y
    -o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0)
  "${apt[@]}" update || return 1
  "${apt[@]}" install --no-install-recommends "${missing[@]}" || return 1
  mapfile -t missing < <(rm_missing_packages)
  [[ ${#missing[@]} -eq 0 ]] || {
    rm_warn "still missing after apt-get: ${missing[*]}"
    return 1
  }
}

# Makes the zh_CN.UTF-8 locale (Wine then runs in code page 936, as the
# program's users' systems do). Returns non-zero when it cannot be made.
rm_ensure_zh_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' && return 0
  command -v localedef >/dev/null || return 1
  local sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  "${sudo[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >/dev/null 2>&1
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  source "$(dirname "$0")/common.sh"
  rm_ensure_deps
fi
