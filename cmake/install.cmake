# cmake --install and the packages, in two components:
#   cli      tonewire-cli with its manual page, the speaker-box user service
#            and its settings sample: everything a box without a display needs
#   desktop  the desktop window with its manual page, icon, desktop entry and
#            AppStream metainfo
# Each component's documentation folder holds a machine-readable copyright
# file (the licence from LICENSE) and a compressed changelog; manual pages are
# installed compressed, as Debian's policy asks.
include(GNUInstallDirs)

set(TW_PACKAGING_DIR ${PROJECT_BINARY_DIR}/packaging)

# The licence in the copyright file's layout: its first line names the
# licence ("MIT License", which Debian calls Expat, as copyright.in says),
# "Copyright ..." lines are the holders, the rest is the text, each line
# indented by one space and an empty line written " .".
function(tw_write_copyright_file output)
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE lines)
  set(TW_COPYRIGHT "")
  set(TW_LICENSE_TEXT "")
  list(POP_FRONT lines name)
  if(NOT name STREQUAL "MIT License")
    message(FATAL_ERROR "LICENSE is no longer the MIT licence: change res/debian/copyright.in")
  endif()
  foreach(line IN LISTS lines)
    if(line MATCHES "^Copyright \\(c\\) (.*)$")
      set(TW_COPYRIGHT "${CMAKE_MATCH_1}")
    elseif(line STREQUAL "")
      if(NOT TW_LICENSE_TEXT STREQUAL "")
        string(APPEND TW_LICENSE_TEXT " .\n")
      endif()
    else()
      string(APPEND TW_LICENSE_TEXT " ${line}\n")
    endif()
  endforeach()
  string(STRIP "${TW_LICENSE_TEXT}" TW_LICENSE_TEXT)
  set(TW_LICENSE_TEXT " ${TW_LICENSE_TEXT}")
  configure_file(${PROJECT_SOURCE_DIR}/res/debian/copyright.in ${output} @ONLY)
endfunction()

# gzip -9n: the same bytes from every build (no name or time stamp inside).
function(tw_compress source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

# The documentation of one component: copyright, changelog, its manual page.
# Sets TW_<component>_DOC_FILES to the compressed files it makes.
function(tw_component_docs component package manpage)
  set(dir ${TW_PACKAGING_DIR}/${package})
  tw_write_copyright_file(${dir}/copyright)
  set(TW_PACKAGE ${package})
  configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog.in ${dir}/changelog @ONLY)
  tw_compress(${dir}/changelog ${dir}/changelog.gz)
  tw_compress(${PROJECT_SOURCE_DIR}/res/man/${manpage}.1 ${dir}/${manpage}.1.gz)
  add_custom_target(tw_docs_${component} ALL DEPENDS ${dir}/changelog.gz ${dir}/${manpage}.1.gz)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${dir}/copyright ${dir}/changelog.gz DESTINATION ${docdir} COMPONENT ${component})
  install(FILES ${dir}/${manpage}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${component})
endfunction()

if(TARGET tonewire-cli)
  install(TARGETS tonewire-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  tw_component_docs(cli tonewire-cli tonewire-cli)
  # A user unit, not a system one: the sound server runs per user.
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/tonewire-server.service
    DESTINATION lib/systemd/user COMPONENT cli)
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/server.env
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tonewire-cli COMPONENT cli)
endif()

if(TARGET tonewire_desktop)
  install(TARGETS tonewire_desktop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
  tw_component_docs(desktop tonewire tonewire)
  foreach(size 16 32 48)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tonewire-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME tonewire.png COMPONENT desktop)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tonewire.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tonewire.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tonewire.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
    RENAME io.github.tonewire.Tonewire.metainfo.xml COMPONENT desktop)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
