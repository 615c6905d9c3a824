# A test build can carry another image than the placeholder, one that fills the whole image
# field, as a release build with another image would: 262,144 bytes of a fixed pseudo-random
# sequence, the same for the same seed on every machine (perl's srand and rand; perl is part of
# every Debian system).
#
# tr_generate_firmware_image(<seed> <file>): writes the image of <seed> to <file>; an unchanged
# image keeps its time stamp, so that a new configure step rebuilds nothing.
function(tr_generate_firmware_image seed file)
    set(capacity 262144)  # bytes: the image field
    if(NOT seed MATCHES "^[0-9]+$")
        message(FATAL_ERROR "FIRMWARE_IMAGE_SEED: '${seed}' is not a whole number")
    endif()
    find_program(TR_PERL perl REQUIRED)
    execute_process(
        COMMAND ${TR_PERL} -e "srand(${seed}); print map { chr(int(rand(256))) } 1 .. ${capacity}"
        OUTPUT_FILE "${file}.new"
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "Generating the firmware image ${file} failed (${status})")
    endif()
    file(COPY_FILE "${file}.new" "${file}" ONLY_IF_DIFFERENT)
    file(REMOVE "${file}.new")
endfunction()
