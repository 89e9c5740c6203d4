# The Debian package: `cpack -G DEB` in a build folder configured with CMAKE_INSTALL_PREFIX=/usr.
# Its dependencies are worked out by dpkg-shlibdeps from the libraries the program links.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "varnelo-eject")
set(CPACK_PACKAGE_VENDOR "Varnelo Labs")
set(CPACK_PACKAGE_CONTACT "Varnelo Labs <support@varnelo-labs.com>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "Shows the external volumes that are mounted (USB and other external disks, removable media, \
mounted disk images) and ejects them, one at a time or all at once, from a main window, a tray \
icon or the command line.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VARNELO_WEBSITE_URL}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Ejecting as an ordinary user goes through udisks2; in a terminal, polkit's text agent (loaded
# only when needed, so not found by shlibdeps) asks for the password.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, libpolkit-agent-1-0")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "policykit-1")

include(CPack)

if(VARNELO_BUILD_TESTS)
  # The desktop files are checked by the desktop's own validators, and the installed tree is
  # checked by installing it into a folder and running the program from there.
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(APPSTREAMCLI appstreamcli)
  if(DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry_validates
      COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/resources/varnelo-eject.desktop)
  endif()
  if(APPSTREAMCLI)
    add_test(NAME metainfo_validates
      COMMAND ${APPSTREAMCLI} validate --no-net
              ${PROJECT_SOURCE_DIR}/resources/com.varnelo_labs.VarneloEject.metainfo.xml)
  endif()
  set(installed_desktop_program "")
  if(TARGET varnelo-eject-desktop)
    set(installed_desktop_program desktop)
  endif()
  add_test(NAME installed_layout
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check_installed_layout.sh
            ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/test-home/installed ${CMAKE_INSTALL_LIBEXECDIR}
            ${installed_desktop_program})
  set_tests_properties(installed_layout PROPERTIES
    ENVIRONMENT "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data")
endif()
