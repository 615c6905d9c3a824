# Checks the firmware build inputs before anything is built, so that a wrong release build
# stops at configure time with a message instead of carrying a truncated or wrong image.
#
# tr_check_firmware_options(<image> <version> <out-var>): fails on an image that is missing or
# longer than the image field, or a version that is not a 32-bit number; sets <out-var> to the
# version's decimal value.
function(tr_check_firmware_options image version out_var)
    set(capacity 262144)
    if(NOT EXISTS "${image}" OR IS_DIRECTORY "${image}")
        message(FATAL_ERROR "FIRMWARE_IMAGE: no such file: ${image}")
    endif()
    file(SIZE "${image}" size)
    if(size GREATER capacity)
        message(FATAL_ERROR "FIRMWARE_IMAGE: ${image} holds ${size} bytes; "
                            "the utility carries at most ${capacity}.")
    endif()
    if(NOT version MATCHES "^(0[xX][0-9A-Fa-f]+|[0-9]+)$")
        message(FATAL_ERROR "FIRMWARE_VERSION: '${version}' is not a number "
                            "(give it in decimal, or in hex as 0x11).")
    endif()
    # math() works in 64 bits; judge longer inputs by their digits before it sees them.
    if(version MATCHES "^0[xX]")
        string(REGEX REPLACE "^0[xX]0*" "" digits "${version}")
        set(max_digits 8)
    else()
        string(REGEX REPLACE "^0+" "" digits "${version}")
        set(max_digits 10)
    endif()
    string(LENGTH "${digits}" digit_count)
    if(digit_count GREATER max_digits)
        message(FATAL_ERROR "FIRMWARE_VERSION: '${version}' does not fit a 32-bit word.")
    endif()
    math(EXPR value "${version}")
    if(value GREATER 4294967295)
        message(FATAL_ERROR "FIRMWARE_VERSION: '${version}' does not fit a 32-bit word.")
    endif()
    set(${out_var} ${value} PARENT_SCOPE)
endfunction()
