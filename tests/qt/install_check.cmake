# cmake --install into a scratch prefix puts the programs, the icon (hicolor
# sizes and scalable) and the desktop entry where a desktop looks for them.
# Run with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file
    bin/tonewire
    bin/tonewire-cli
    share/applications/tonewire.desktop
    share/icons/hicolor/16x16/apps/tonewire.png
    share/icons/hicolor/32x32/apps/tonewire.png
    share/icons/hicolor/48x48/apps/tonewire.png
    share/icons/hicolor/scalable/apps/tonewire.svg)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ ${PREFIX}/share/applications/tonewire.desktop entry)
if(NOT entry MATCHES "\nExec=tonewire\n" OR NOT entry MATCHES "\nIcon=tonewire\n")
  message(FATAL_ERROR "the desktop entry does not start tonewire with its icon")
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: programs, icons and desktop entry")
