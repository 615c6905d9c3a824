# What the 32-bit Windows build adds: its tests run through wine in a private prefix, and
# GoogleTest is built from Debian's sources for the target.

set(TR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH
    "The private wine prefix the Windows tests run in")
if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run.sh;${TR_WINEPREFIX}")
endif()

# The program and the tests use only the ANSI entry points, on NT 5.1 (XP) and later.
add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501)

function(tr_add_googletest_from_source)
    set(TR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    if(NOT EXISTS "${TR_GTEST_SOURCE_DIR}/CMakeLists.txt")
        message(FATAL_ERROR "No GoogleTest sources at ${TR_GTEST_SOURCE_DIR} (Debian: googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own project defines the GTest:: names the tests link to.
endfunction()
