# The Windows programs in one folder with README.txt and LICENSE.txt, both with CR LF line ends
# for Notepad: the contents of the zip and of the installer. LICENSE.txt adds to the licence
# the notices of the libraries that the statically linked programs carry.
foreach(_program tr520-updater tr520-cli)
    if(TARGET ${_program})
        install(TARGETS ${_program} RUNTIME DESTINATION .)
    endif()
endforeach()

configure_file(windows/README.txt README.txt @ONLY NEWLINE_STYLE CRLF)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _licence)
file(READ windows/third-party-notices.txt _notices)
file(CONFIGURE OUTPUT LICENSE.txt CONTENT "${_licence}\n\n${_notices}" @ONLY NEWLINE_STYLE CRLF)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE windows/third-party-notices.txt)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
        DESTINATION .)

# The installer's script, for makensis (tools/package.sh runs it on the installed folder).
set(TR_WINDOWS_ICON ${PROJECT_SOURCE_DIR}/res/win32/tr520-updater.ico)
configure_file(windows/tr520-updater.nsi.in tr520-updater.nsi @ONLY)
