# Cross-builds the Windows program with Debian's MinGW-w64 (32-bit x86).
#
# Use: cmake -S . -B BUILD -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# (scripts/build-windows.sh does this). Needs g++-mingw-w64-i686-posix and
# mingw-w64-tools; the tests run the .exe files under wine (wine32).
#
# Why 32-bit: EchoLink is a 32-bit program whose automation server and type
# library are registered in the 32-bit registry view, so a 32-bit client talks
# to it exactly as its own tools do; and a 32-bit program without an
# elevation manifest keeps saving its settings for a standard user (see
# README, "Settings file on Windows").
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TARNWICK_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model: std::thread and friends work, and the runtime is
# linked statically below, so the program still needs no DLL of MinGW's.
set(CMAKE_C_COMPILER ${TARNWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TARNWICK_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARNWICK_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything of the compiler's runtime (libgcc, libstdc++, winpthreads) goes
# into the .exe: only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
