# Cross build of the Windows programs as 64-bit ones, with Debian's MinGW-w64 x86_64 toolchain:
# the Windows suite under wine64. The product is the 32-bit build (cmake/mingw-i686.cmake).
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
