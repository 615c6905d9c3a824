# The Debian packages, one per install component (cpack --config CPackConfig.cmake in the
# build folder; tools/package.sh runs it): stripped programs, dependencies found by
# dpkg-shlibdeps, and no maintainer scripts, so installing changes nothing but the files.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tr520-updater)
set(CPACK_PACKAGE_VENDOR "${TR_PACKAGE_VENDOR}")
set(CPACK_PACKAGE_VERSION ${TR_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "${TR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${TR_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
# Directories 0755 and control files 0644 whatever the umask of the one who packages.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # name_version_architecture.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE tr520-updater)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME tr520-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "TR-520/521 scanner CPU firmware updater for the command line
The TR-520/521 CPU Update Utility replaces the CPU firmware of a TR-520/521
handheld radio scanner over the scanner's USB-serial programming cable. It
carries one firmware image inside itself.

tr520-cli runs the utility's TEST and UPDATE from a terminal, for scripts,
service benches and machines without a desktop: it finds the port where the
scanner waits, reads the firmware version the scanner holds, sends the
carried image and reports the scanner's verdict, with the same messages as
the dialog program and an exit status for each outcome. It needs no Qt.")

set(CPACK_DEBIAN_UPDATER_PACKAGE_NAME tr520-updater)
set(CPACK_DEBIAN_UPDATER_PACKAGE_RECOMMENDS tr520-cli)
set(CPACK_COMPONENT_UPDATER_DESCRIPTION
    "TR-520/521 scanner CPU firmware updater
The TR-520/521 CPU Update Utility replaces the CPU firmware of a TR-520/521
handheld radio scanner over the scanner's USB-serial programming cable. It
carries one firmware image inside itself.

Its dialog leads through four steps: put the scanner into its upgrade mode,
pick the cable's COM port, TEST to read the version the scanner holds, and
UPDATE to send the carried image, with a progress window and the scanner's
verdict. While an upload runs, the machine is kept from sleeping and
shutting down.")

include(CPack)
