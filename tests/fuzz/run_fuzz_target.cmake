cmake_minimum_required(VERSION 3.20)
# Runs the libFuzzer program FUZZER, the target NAME, for SECONDS (times the environment's
# TR_FUZZ_SCALE, 1 by default) on inputs of at most MAX_LEN bytes, from its seed corpus SEEDS
# and the inputs earlier runs found worth keeping, OUT/fuzz-corpus/NAME. Its output goes to
# OUT/fuzz-logs/NAME.log and prints as one line: its runs and runs per second. A crash, a leak,
# a time-out or a broken invariant fails it, printing the log's end, and leaves the input in
# OUT/fuzz-artifacts/NAME/.
#   cmake -DFUZZER=... -DNAME=... -DSECONDS=... -DMAX_LEN=... -DSEEDS=... -DOUT=... -P this
set(scale 1)
if(DEFINED ENV{TR_FUZZ_SCALE})
    set(scale $ENV{TR_FUZZ_SCALE})
endif()
math(EXPR seconds "${SECONDS} * ${scale}")
set(corpus ${OUT}/fuzz-corpus/${NAME})
set(artifacts ${OUT}/fuzz-artifacts/${NAME})
set(log ${OUT}/fuzz-logs/${NAME}.log)
file(MAKE_DIRECTORY ${corpus} ${artifacts} ${OUT}/fuzz-logs)
# -timeout: seconds one input may take before it counts as a hang.
execute_process(
    COMMAND ${FUZZER} -max_total_time=${seconds} -timeout=10 -max_len=${MAX_LEN}
            -print_final_stats=1 -artifact_prefix=${artifacts}/ ${corpus} ${SEEDS}
    OUTPUT_FILE ${log} ERROR_FILE ${log} RESULT_VARIABLE status)

file(STRINGS ${log} runs REGEX "^stat::number_of_executed_units:")
file(STRINGS ${log} rate REGEX "^stat::average_exec_per_sec:")
string(REGEX REPLACE ".*: *" "" runs "${runs}")
string(REGEX REPLACE ".*: *" "" rate "${rate}")
if(status EQUAL 0 AND NOT runs STREQUAL "")
    message("${NAME}: ${seconds} s, ${runs} runs, ${rate} runs/s, passed")
    return()
endif()
# The input's bytes come as one long line: each line is cut at 200 characters.
file(STRINGS ${log} lines)
list(LENGTH lines count)
set(first 0)
if(count GREATER 40)
    math(EXPR first "${count} - 40")
endif()
list(SUBLIST lines ${first} -1 tail)
foreach(line IN LISTS tail)
    string(SUBSTRING "${line}" 0 200 line)
    message("   | ${line}")
endforeach()
file(GLOB inputs ${artifacts}/*)
message(FATAL_ERROR "${NAME} FAILED (exit status ${status}); its log: ${log}; the input: ${inputs}")
