# The Linux install, in two components that become the two Debian packages: cli (tr520-cli,
# no Qt) and updater (the dialog program and its desktop integration).
set(_out ${CMAKE_CURRENT_BINARY_DIR})
set(_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc)
set(_mandir ${CMAKE_INSTALL_MANDIR}/man1)
configure_file(debian/changelog.in ${_out}/changelog @ONLY)
configure_file(debian/copyright.in ${_out}/copyright @ONLY)
set(_metainfo ${_out}/${TR_APPSTREAM_ID}.metainfo.xml)
configure_file(linux/tr520-updater.metainfo.xml.in ${_metainfo} @ONLY)

# Manual pages and the changelog are installed compressed with gzip -9n, as Debian wants them:
# at the highest level, with no file name or time in the header.
set(_compressed)
function(tr_compress source name)
    add_custom_command(OUTPUT ${_out}/gz/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_out}/gz/${name}
        COMMAND gzip -9nf ${_out}/gz/${name}
        DEPENDS ${source} VERBATIM)
    set(_compressed ${_compressed} ${_out}/gz/${name}.gz PARENT_SCOPE)
endfunction()
tr_compress(${_out}/changelog changelog)
tr_compress(${PROJECT_SOURCE_DIR}/docs/man/tr520-cli.1 tr520-cli.1)
tr_compress(${PROJECT_SOURCE_DIR}/docs/man/tr520-updater.1 tr520-updater.1)
add_custom_target(tr_package_files ALL DEPENDS ${_compressed})

# Each package's own documentation folder: the copyright file and the changelog.
function(tr_install_docs component package)
    install(FILES ${_out}/copyright ${_out}/gz/changelog.gz
            DESTINATION ${_docdir}/${package} COMPONENT ${component})
endfunction()

# A stripped program also loses the compilers' version notes (.comment), as Debian's own
# packages do; plain strip, which CPack runs, keeps them.
function(tr_install_program target component)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    set(_installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}")
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \"${_installed}\"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
endfunction()

set(TR_PACKAGE_COMPONENTS cli)
tr_install_program(tr520-cli cli)
install(FILES ${_out}/gz/tr520-cli.1.gz DESTINATION ${_mandir} COMPONENT cli)
tr_install_docs(cli tr520-cli)

if(TARGET tr520-updater)
    list(APPEND TR_PACKAGE_COMPONENTS updater)
    tr_install_program(tr520-updater updater)
    install(FILES ${_out}/gz/tr520-updater.1.gz DESTINATION ${_mandir} COMPONENT updater)
    tr_install_docs(updater tr520-updater)
    install(FILES ${PROJECT_SOURCE_DIR}/res/tr520-updater.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT updater)
    install(FILES ${_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT updater)
    foreach(_size 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tr520-updater-${_size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
                RENAME tr520-updater.png COMPONENT updater)
    endforeach()
endif()

include(debian-packages.cmake)
