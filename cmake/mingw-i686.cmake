# Cross build of the 32-bit Windows program with Debian's MinGW-w64 i686 toolchain.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The tests then run through wine (see cmake/WindowsBuild.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
