# CLI11, header-only (Debian libcli11-dev), as the target tr_cli11 for the programs that parse
# their command line with it. The cross build must not see the host's /usr/include, so the
# include path is a directory of the build tree holding CLI/ alone.
find_path(TR_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "The directory holding CLI11's CLI/ headers")
if(NOT TR_CLI11_INCLUDE_DIR)
    message(FATAL_ERROR "CLI11 not found (Debian: libcli11-dev)")
endif()
set(_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${_cli11_dir})
file(CREATE_LINK ${TR_CLI11_INCLUDE_DIR}/CLI ${_cli11_dir}/CLI COPY_ON_ERROR SYMBOLIC)
add_library(tr_cli11 INTERFACE)
target_include_directories(tr_cli11 SYSTEM INTERFACE ${_cli11_dir})
