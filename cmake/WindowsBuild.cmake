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

# Every program of the build must need nothing but Windows' own DLLs (static C++ runtime and
# threads). Registered once for all of them, after every folder is added: the ctest test
# import_table.<program> where tests are built, and the build target import_check.<program>
# (import_checks: all of them), which checks without wine. A program's TR_FORBIDDEN_IMPORTS
# names functions it must not import.
function(tr_check_imports_of_all_programs)
    find_program(TR_OBJDUMP NAMES ${CMAKE_OBJDUMP} REQUIRED)
    tr_programs_below(${PROJECT_SOURCE_DIR} programs)
    add_custom_target(import_checks)
    foreach(program IN LISTS programs)
        set(forbidden $<TARGET_PROPERTY:${program},TR_FORBIDDEN_IMPORTS>)
        set(check ${CMAKE_COMMAND} -DOBJDUMP=${TR_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${program}>
                  "-DFORBIDDEN=$<JOIN:${forbidden},$<SEMICOLON>>"
                  -P ${PROJECT_SOURCE_DIR}/tests/wine/check_imports.cmake)
        add_custom_target(import_check.${program} COMMAND ${check} VERBATIM)
        add_dependencies(import_check.${program} ${program})
        add_dependencies(import_checks import_check.${program})
        if(TR_BUILD_TESTS)
            add_test(NAME import_table.${program} COMMAND ${check})
        endif()
    endforeach()
endfunction()

# Sets <out> to the programs built by default in the folder <dir> and below it.
function(tr_programs_below dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    set(programs "")
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        get_target_property(excluded ${target} EXCLUDE_FROM_ALL)
        if(type STREQUAL "EXECUTABLE" AND NOT excluded)
            list(APPEND programs ${target})
        endif()
    endforeach()
    get_property(folders DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(folder IN LISTS folders)
        tr_programs_below(${folder} below)
        list(APPEND programs ${below})
    endforeach()
    set(${out} ${programs} PARENT_SCOPE)
endfunction()
