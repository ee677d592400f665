# What both MinGW-w64 toolchain files share; they set
# TARNWICK_MINGW_PREFIX (the compilers' prefix) and CMAKE_SYSTEM_PROCESSOR
# first, then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: std::thread and friends work, and the runtime is
# linked statically below, so the program still needs no DLL of MinGW's.
set(CMAKE_C_COMPILER ${TARNWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TARNWICK_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARNWICK_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${TARNWICK_MINGW_PREFIX}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything of the compiler's runtime (libgcc, libstdc++, winpthreads) goes
# into the .exe: only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
