cmake_minimum_required(VERSION 3.20)
# check_packages.sh on a folder that holds none of the packages, only a file and its correct
# SHA256SUMS, must fail and count both missing kinds: the Debian packages and the Windows ones.
# A missing package counted only where nothing sees the count lets the folder pass.
#   cmake -DSCRIPT=.../check_packages.sh -DWORK_DIR=... -P check_packages_without_packages.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(WRITE ${WORK_DIR}/notes.txt "not a package\n")
file(SHA256 ${WORK_DIR}/notes.txt sum)
file(WRITE ${WORK_DIR}/SHA256SUMS "${sum}  notes.txt\n")
execute_process(COMMAND bash ${SCRIPT} ${WORK_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK_DIR})
if(status EQUAL 0)
    message(FATAL_ERROR "check_packages.sh passed a folder without packages:\n${out}${err}")
endif()
if(NOT err MATCHES "== 2 package checks FAILED")
    message(FATAL_ERROR "check_packages.sh did not count both missing kinds:\n${out}${err}")
endif()
