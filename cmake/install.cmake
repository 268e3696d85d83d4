# cmake --install: the programs, and with the desktop window its icon (hicolor
# sizes and scalable) and desktop entry (platform/qt/CMakeLists.txt).
include(GNUInstallDirs)
if(TARGET tonewire-cli)
  install(TARGETS tonewire-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(NOT TARGET tonewire_desktop AND TARGET tonewire_program)
  install(TARGETS tonewire_program RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
