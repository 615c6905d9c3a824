cmake_minimum_required(VERSION 3.20)
# Fails unless the Windows program PROGRAM imports only Windows' own DLLs, read from its
# import table with OBJDUMP: a statically linked program needs nothing shipped beside it.
# FORBIDDEN names functions it must not import (those newer Windows only has, which the
# program looks up at run time so that it still starts on older ones).
#   cmake -DOBJDUMP=... -DPROGRAM=... [-DFORBIDDEN=a;b] -P check_imports.cmake
set(_system_dlls
    kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll comdlg32.dll shell32.dll
    ole32.dll oleaut32.dll msvcrt.dll ntdll.dll uxtheme.dll version.dll winmm.dll ws2_32.dll
    imm32.dll shlwapi.dll setupapi.dll)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE _dump RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed (${_status})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" _lines "${_dump}")
if(NOT _lines)
    message(FATAL_ERROR "${PROGRAM}: no import table found")
endif()
set(_foreign)
foreach(_line IN LISTS _lines)
    string(REPLACE "DLL Name: " "" _dll "${_line}")
    string(STRIP "${_dll}" _dll)
    string(TOLOWER "${_dll}" _lower)
    if(NOT _lower IN_LIST _system_dlls)
        list(APPEND _foreign ${_dll})
    endif()
endforeach()
if(_foreign)
    message(FATAL_ERROR "${PROGRAM} needs DLLs that Windows does not have: ${_foreign}")
endif()
foreach(_function IN LISTS FORBIDDEN)
    if(_dump MATCHES "[ \t]${_function}[\r\n]")
        message(FATAL_ERROR "${PROGRAM} imports ${_function}: it would not start where that is missing")
    endif()
endforeach()
string(REPLACE "DLL Name: " "" _all "${_lines}")
message(STATUS "only system DLLs: ${_all}")
