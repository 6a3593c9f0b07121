# Cross toolchain for the Windows build: 64-bit mingw-w64 with the posix thread
# model (std::thread, std::mutex), Unicode Win32 APIs and fully static programs.
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Every .exe links -static: with the posix toolchain, -static-libgcc and
# -static-libstdc++ alone still leave a dependency on libwinpthread-1.dll, and the
# program must run from a bare folder on a machine that has no mingw runtime.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RELAYMOTH_MINGW_TRIPLE x86_64-w64-mingw32)

# The "-posix" drivers, not the alternatives-managed plain names: the win32 thread
# model has no std::thread with this GCC, and the alternative may point at either.
find_program(CMAKE_C_COMPILER NAMES ${RELAYMOTH_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${RELAYMOTH_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RELAYMOTH_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${RELAYMOTH_MINGW_TRIPLE}-gcc-ar-posix ${RELAYMOTH_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${RELAYMOTH_MINGW_TRIPLE}-gcc-ranlib-posix
             ${RELAYMOTH_MINGW_TRIPLE}-ranlib)

# windres runs the C preprocessor itself; point it at the same compiler so that the
# .rc files see exactly the macros and include paths the sources see.
set(CMAKE_RC_FLAGS_INIT "--preprocessor=${CMAKE_C_COMPILER} --preprocessor-arg=-E \
--preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED -DUNICODE -D_UNICODE")

set(CMAKE_FIND_ROOT_PATH /usr/${RELAYMOTH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide-character Win32 everywhere: a plain CreateWindow is CreateWindowW.
# _WIN32_WINNT 0x0601 (Windows 7) is the oldest system the program supports.
set(CMAKE_C_FLAGS_INIT "-DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets CMake run freshly built .exe files (try_run, test commands) through Wine.
find_program(RELAYMOTH_WINE NAMES wine)
if(RELAYMOTH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RELAYMOTH_WINE})
endif()
