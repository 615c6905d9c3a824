#!/bin/sh
# Stands in for a libFuzzer program in the tests of run_fuzz_target.cmake. As TR_FAKE_FUZZER
# says, it ends as a clean run, as a crash that left its input where it was told, or as a run
# that printed no statistics (what a program that does not fuzz at all does).
for arg; do
    case $arg in -artifact_prefix=*) prefix=${arg#-artifact_prefix=} ;; esac
done
stats() { printf 'stat::number_of_executed_units: %s\nstat::average_exec_per_sec: %s\n' "$1" "$2"; }
case $TR_FAKE_FUZZER in
    passes) stats 1234 61 ;;
    crashes) echo "deadly signal" && echo input >"${prefix}crash-1" && stats 7 7 && exit 77 ;;
    silent) ;;
esac
