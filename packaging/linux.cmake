# The Linux install, in two components that become the two Debian packages: cli (tr520-cli,
# no Qt) and updater (the dialog program and its desktop integration).
set(_out ${CMAKE_CURRENT_BINARY_DIR})
set(_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc)
set(_mandir ${CMAKE_INSTALL_MANDIR}/man1)

# The date $1 (YYYY-MM-DD) as a Debian changelog's trailer gives it, e.g.
# "Wed, 09 Dec 2026 12:00:00 +0000", into the variable $2.
function(tr_changelog_date iso out_var)
    if(NOT iso MATCHES "^([0-9][0-9][0-9][0-9])-([01][0-9])-([0-3][0-9])$")
        message(FATAL_ERROR "TR_RELEASE_DATE '${iso}' is not YYYY-MM-DD")
    endif()
    set(year ${CMAKE_MATCH_1})
    set(day_text ${CMAKE_MATCH_3})
    string(REGEX REPLACE "^0" "" month "${CMAKE_MATCH_2}")  # math() reads no leading zero
    string(REGEX REPLACE "^0" "" day "${day_text}")
    # The day of the week by Sakamoto's method: 0 is Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${month} - 1")
    list(GET offsets ${index} offset)
    if(month LESS 3)
        math(EXPR year "${year} - 1")
    endif()
    math(EXPR weekday
         "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    list(GET weekdays ${weekday} weekday_name)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET months ${index} month_name)
    string(SUBSTRING "${iso}" 0 4 year_text)
    set(${out_var} "${weekday_name}, ${day_text} ${month_name} ${year_text} 12:00:00 +0000"
        PARENT_SCOPE)
endfunction()
tr_changelog_date(${TR_RELEASE_DATE} TR_CHANGELOG_DATE)

configure_file(debian/changelog.in ${_out}/changelog @ONLY)
configure_file(debian/copyright.in ${_out}/copyright @ONLY)
set(_metainfo ${_out}/${TR_APPSTREAM_ID}.metainfo.xml)
configure_file(linux/tr520-updater.metainfo.xml.in ${_metainfo} @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/tr520-updater.desktop.in ${_out}/tr520-updater.desktop
               @ONLY)
# The manual pages' headings name the version and the release's date.
foreach(_page tr520-cli.1 tr520-updater.1)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${_page} ${_out}/man/${_page} @ONLY)
endforeach()

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
tr_compress(${_out}/man/tr520-cli.1 tr520-cli.1)
tr_compress(${_out}/man/tr520-updater.1 tr520-updater.1)
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
    install(FILES ${_out}/tr520-updater.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT updater)
    install(FILES ${_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT updater)
    foreach(_size 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tr520-updater-${_size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
                RENAME tr520-updater.png COMPONENT updater)
    endforeach()
endif()

include(debian-packages.cmake)
