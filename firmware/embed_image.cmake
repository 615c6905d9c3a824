# Turns a binary image into the source of the carried FirmwarePayload record and its SHA-256.
# Called at build time with IMAGE, VERSION (a decimal number) and OUTPUT.
file(READ "${IMAGE}" _hex HEX)
file(SHA256 "${IMAGE}" _sha256)
string(LENGTH "${_hex}" _digits)
math(EXPR _length "${_digits} / 2")
# Sixteen bytes a line keeps the generated file readable in a debugger.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " _bytes "${_bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${IMAGE}; do not edit.
#include \"firmware_payload.h\"

const FirmwarePayload g_carriedFirmware = {
    ${VERSION}u,
    ${_length}u,
    {
    ${_bytes}
    },
};

const char g_carriedFirmwareSha256[] = \"${_sha256}\";
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
