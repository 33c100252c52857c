# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, so std::thread and
# std::mutex work), the C and C++ runtimes linked into each program so a bare .exe runs.
# scripts/windows.sh passes the folder its cross-built dependencies are installed in as
# CMAKE_FIND_ROOT_PATH; the compiler's own folder is searched as well.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10 calls; printf formats as C99 has them (%zu); localtime_r; UTF-16 Windows calls.
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -D__USE_MINGW_ANSI_STDIO=1 -D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
