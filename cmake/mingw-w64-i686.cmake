# Cross-builds the Windows program with Debian's MinGW-w64 (32-bit x86): the
# product.
#
# Use: cmake -S . -B BUILD -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# (scripts/build-windows.sh does this with TARNWICK_WIN_ARCH=i686). Needs
# g++-mingw-w64-i686-posix and mingw-w64-tools; the tests run the .exe files
# under 32-bit Wine (wine32).
#
# Why 32-bit: EchoLink is a 32-bit program whose automation server and type
# library are registered in the 32-bit registry view, so a 32-bit client talks
# to it exactly as its own tools do; and a 32-bit program without an
# elevation manifest keeps saving its settings for a standard user (see
# README, "Why 32-bit, and where the settings go").
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TARNWICK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
