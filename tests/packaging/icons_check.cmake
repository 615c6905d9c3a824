cmake_minimum_required(VERSION 3.20)
# Fails unless the icon files in res/ are what tools/make_icon.py draws from the XPM drawings
# now: an edited drawing whose .ico and PNG files were not drawn again would leave the window
# icon, the Windows icon and the icon theme's images telling different stories.
#   cmake -DPYTHON=... -DSOURCE_DIR=... -DWORK_DIR=... -P icons_check.cmake
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tools/make_icon.py ${WORK_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "tools/make_icon.py failed (${status})")
endif()
file(GLOB_RECURSE drawn RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(LENGTH drawn count)
if(NOT count EQUAL 7)
    message(FATAL_ERROR "tools/make_icon.py drew ${count} files, not the .ico and 6 PNGs")
endif()
foreach(name IN LISTS drawn)
    if(NOT EXISTS ${SOURCE_DIR}/res/${name})
        message(SEND_ERROR "res/${name} is missing: run tools/make_icon.py")
        continue()
    endif()
    file(SHA256 ${WORK_DIR}/${name} expected)
    file(SHA256 ${SOURCE_DIR}/res/${name} committed)
    if(NOT expected STREQUAL committed)
        message(SEND_ERROR "res/${name} differs from its drawing: run tools/make_icon.py")
    endif()
endforeach()
