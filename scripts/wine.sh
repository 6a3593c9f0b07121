# The Wine side: environment, the prefix, and stopping the prefix's wineserver
# between phases.
#
# Two prefixes, so that the tests never touch the profile the user sees: ./test
# and the test scripts run in build/wineprefix (RELAYMOTH_WINEPREFIX), which the
# tests fill with their own rows, sites and ports; ./run sets
# RM_WINE_PROFILE=user and runs in build/user-wineprefix
# (RELAYMOTH_USER_WINEPREFIX), which no test reads or writes.
#
# A wineserver remembers the display of the process that started it: one started
# without DISPLAY (prefix creation) makes every later window fail with error 1400
# even under Xvfb. So headless work ends with rm_wine_stop before any GUI work,
# and a GUI phase ends with rm_wine_stop before its Xvfb goes away.
# shellcheck shell=bash

# Bump when the prefix set-up below changes: older prefixes are then rebuilt.
RM_WINE_PREFIX_VERSION=3

rm_wine_env() {
  if [[ "${RM_WINE_PROFILE:-tests}" == user ]]; then
    export WINEPREFIX="${RELAYMOTH_USER_WINEPREFIX:-$RM_BUILD/user-wineprefix}"
  else
    export WINEPREFIX="${RELAYMOTH_WINEPREFIX:-$RM_BUILD/wineprefix}"
  fi
  # Wine maps Windows file names and window titles to Unix through the locale's
  # character set: in the C locale a file named in Chinese cannot be created and
  # titles reach X mangled. C.UTF-8 exists on every Debian without extra
  # packages; a zh_CN.UTF-8 locale (package locales) also gives code page 936.
  # A locale made after this shell started is not in its loaded archive: bash
  # warns, but the programs it starts find it.
  { export LC_ALL="${RELAYMOTH_WINE_LOCALE:-C.UTF-8}"; } 2>/dev/null
  export WINEARCH=win64
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko download prompts: the program needs neither. No menu
  # builder either: it would mirror every shortcut the program makes into the
  # Linux desktop's menus and icon folders.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Waits for every process of the prefix to end (the server lingers a few seconds
# after its last client); kills them if that takes longer than $1 seconds.
rm_wine_stop() {
  local limit=${1:-30}
  rm_wine_env
  if ! timeout "$limit" wineserver -w 2>/dev/null; then
    rm_warn "Wine processes still running after ${limit}s; killing them"
    wineserver -k 2>/dev/null
    timeout 10 wineserver -w 2>/dev/null
  fi
  return 0
}

# wine reg add; rm_wine_env's UTF-8 locale makes the Chinese face names arrive
# intact (Wine converts argv with the Unix locale's character set).
_rm_reg_add() {
  wine reg add "$@" /f >/dev/null
}

_rm_wine_prefix_setup() {
  rm_log "creating the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  (
    unset DISPLAY WAYLAND_DISPLAY
    wineboot -i >>"$RM_LOGS/wineboot.log" 2>&1 || exit 1
    wineserver -w
  ) || {
    rm_warn "wineboot failed (see $RM_LOGS/wineboot.log)"
    return 1
  }

  # wineboot links the user's Desktop, Documents and the other user folders to
  # the Linux home: a shortcut the program puts on "the desktop" would land in
  # the real home folder. Plain folders inside the prefix instead.
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    [[ -L "$link" ]] || continue
    rm -f "$link" && mkdir -p "$link" || return 1
  done

  # Debian's Wine does not look into /usr/share/wine/fonts; without these the
  # standard UI faces (Tahoma, MS Sans Serif) do not exist in the prefix.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  dpkg -L fonts-wine | grep -E '\.(ttf|ttc|otf|fon)$' | xargs -r cp -f -t "$fonts" || return 1

  (
    unset DISPLAY WAYLAND_DISPLAY
    set -e
    local face
    # The faces a Chinese program asks for by name, all drawn with WenQuanYi.
    for face in "SimSun" "宋体" "NSimSun" "新宋体" "Microsoft YaHei" "微软雅黑" "SimHei" "黑体"; do
      _rm_reg_add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
        /d "WenQuanYi Micro Hei"
    done
    # Chinese characters in text drawn with the default UI faces fall back to
    # WenQuanYi instead of boxes.
    for face in "Tahoma" "Tahoma Bold" "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
      _rm_reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei"
    done
    # Without a window manager, Wine waits about a second at every show and
    # destroy of a managed window; unmanaged windows take milliseconds.
    _rm_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
    # A crash ends the process instead of opening a dialog nobody can answer.
    _rm_reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    wineserver -w
  ) || {
    rm_warn "registry set-up of the Wine prefix failed"
    return 1
  }

  # wine reg query shows Chinese as "???", so check through an export.
  local export_file="$RM_LOGS/wine-replacements.reg"
  rm -f "$export_file"
  (
    unset DISPLAY WAYLAND_DISPLAY
    wine reg export 'HKCU\Software\Wine\Fonts\Replacements' "Z:$export_file" /y >/dev/null
    wineserver -w
  )
  if ! iconv -f UTF-16LE -t UTF-8 "$export_file" 2>/dev/null | grep -q '"宋体"="WenQuanYi Micro Hei"'; then
    rm_warn "the Chinese font replacements did not reach the registry (see $export_file)"
    return 1
  fi
  echo "$RM_WINE_PREFIX_VERSION" >"$WINEPREFIX/.relaymoth-prefix"
}

# Fails when a folder of the prefix's users still leads out of the prefix.
rm_wine_prefix_contained() {
  rm_wine_env
  local outside
  outside=$(find "$WINEPREFIX/drive_c/users" -maxdepth 2 -type l 2>/dev/null)
  if [[ -n "$outside" ]]; then
    rm_warn "user folders of the Wine prefix lead outside it: $outside"
    return 1
  fi
}

# Creates the prefix on first use (and again when the set-up above changed or a
# previous attempt was interrupted). Headless; leaves no Wine process behind.
rm_wine_prefix_ensure() {
  rm_wine_env
  mkdir -p "$RM_LOGS" "$(dirname "$WINEPREFIX")"
  local marker="$WINEPREFIX/.relaymoth-prefix"
  [[ "$(cat "$marker" 2>/dev/null)" == "$RM_WINE_PREFIX_VERSION" ]] && return 0
  # Two runs starting at once must not build the same prefix twice.
  local lock_fd
  exec {lock_fd}>"$WINEPREFIX.lock"
  flock "$lock_fd"
  local rc=0
  if [[ "$(cat "$marker" 2>/dev/null)" != "$RM_WINE_PREFIX_VERSION" ]]; then
    _rm_wine_prefix_setup || rc=1
  fi
  flock -u "$lock_fd"
  exec {lock_fd}>&-
  return $rc
}

# Exported in Windows form for programs that take a path argument.
rm_winpath() { printf 'Z:%s' "$(realpath -m "$1")"; }
