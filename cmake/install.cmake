# cmake --install: tonewire-cli with its manual page and the speaker-box user
# service, the licence, and with the desktop window its icon, desktop entry,
# manual page and AppStream metainfo (platform/qt/CMakeLists.txt).
include(GNUInstallDirs)
set(TW_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tonewire)
if(TARGET tonewire-cli)
  install(TARGETS tonewire-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/man/tonewire-cli.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # A user unit, not a system one: the sound server runs per user.
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/tonewire-server.service
    DESTINATION lib/systemd/user)
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/server.env DESTINATION ${TW_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${TW_INSTALL_DOCDIR})
include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
