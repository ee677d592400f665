# Cross-builds the Windows program for x86-64 with Debian's MinGW-w64, from
# the same source as the 32-bit product.
#
# Use: cmake -S . -B BUILD -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# (scripts/build-windows.sh does this with TARNWICK_WIN_ARCH=x86_64). Needs
# g++-mingw-w64-x86-64-posix and mingw-w64-tools; the tests run the .exe
# files under 64-bit Wine (wine64), which runs where the kernel runs no
# 32-bit code. What this build is for: README, "The x86-64 build".
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TARNWICK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
