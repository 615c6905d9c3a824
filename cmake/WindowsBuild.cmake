# What the 32-bit Windows build adds: its tests run through wine in a private prefix, and
# GoogleTest is built from Debian's sources for the target.

set(TR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH
    "The private wine prefix the Windows tests run in")
if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run.sh;${TR_WINEPREFIX}")
endif()

# A release program carries no symbols and no debug information (the static runtime brings its
# own): about half the size. It is built at -O2 like the RelWithDebInfo builds: at -O3 the cross
# GCC 12 reports false -Wrestrict overlaps inside libstdc++'s string code, errors under -Werror.
add_compile_options($<$<CONFIG:Release>:-O2>)
add_link_options($<$<CONFIG:Release,MinSizeRel>:-s>)

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
