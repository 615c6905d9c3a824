# nlohmann/json, header-only (Debian nlohmann-json3-dev), as the target tr_nlohmann_json: the
# JSON documents of tr520-cli --json and what reads them. The cross build must not see the
# host's /usr/include, so the include path gets a directory of the build tree holding
# nlohmann/ alone.
find_path(TR_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include
          NO_CMAKE_FIND_ROOT_PATH DOC "The directory holding nlohmann/json.hpp")
if(NOT TR_NLOHMANN_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json not found (Debian: nlohmann-json3-dev)")
endif()
set(_nlohmann_dir ${CMAKE_BINARY_DIR}/nlohmann-json-include)
file(MAKE_DIRECTORY ${_nlohmann_dir})
file(CREATE_LINK ${TR_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann ${_nlohmann_dir}/nlohmann
     COPY_ON_ERROR SYMBOLIC)
add_library(tr_nlohmann_json INTERFACE)
target_include_directories(tr_nlohmann_json SYSTEM INTERFACE ${_nlohmann_dir})
