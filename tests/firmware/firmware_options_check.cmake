# Runs the configure-time firmware checks on one case, as `cmake -P`, for a CTest test.
# IMAGE_BYTES makes an image of that many bytes; IMAGE names one instead. VERSION as given.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/FirmwareOptions.cmake)
if(DEFINED IMAGE_BYTES)
    set(IMAGE "${WORK_DIR}/image_${IMAGE_BYTES}.bin")
    string(REPEAT "x" ${IMAGE_BYTES} contents)
    file(WRITE "${IMAGE}" "${contents}")
endif()
tr_check_firmware_options("${IMAGE}" "${VERSION}" value)
message(STATUS "accepted: version value ${value}")
