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
