# cmake --install into a scratch prefix puts the programs, their manual pages,
# the user service, the licence, the icon (hicolor sizes and scalable), the
# desktop entry and the AppStream metainfo where a system looks for them, and
# each file passes its own format's checker. Under CI every checker must be
# there; elsewhere a missing one is skipped with a note.
# Run with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(metainfo share/metainfo/io.github.tonewire.Tonewire.metainfo.xml)
set(unit lib/systemd/user/tonewire-server.service)
foreach(file
    bin/tonewire
    bin/tonewire-cli
    share/man/man1/tonewire.1.gz
    share/man/man1/tonewire-cli.1.gz
    ${unit}
    share/doc/tonewire-cli/server.env
    share/doc/tonewire-cli/copyright
    share/doc/tonewire-cli/changelog.gz
    share/doc/tonewire/copyright
    share/doc/tonewire/changelog.gz
    ${metainfo}
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

# Runs a checker; any complaint on either stream fails, as do its warnings.
function(check what)
  find_program(tool ${ARGV1})
  if(NOT tool)
    if("$ENV{CI}" STREQUAL "true")
      message(FATAL_ERROR "${ARGV1} is missing (scripts/install-deps.sh installs it)")
    endif()
    message(STATUS "skipped, ${ARGV1} is missing: ${what}")
    return()
  endif()
  list(SUBLIST ARGV 2 -1 arguments)
  execute_process(COMMAND ${tool} ${arguments} RESULT_VARIABLE result
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[^\n]*Validation was successful[^\n]*\n?" "" out "${out}")
  string(STRIP "${out}${err}" complaints)
  if(NOT result EQUAL 0 OR NOT complaints STREQUAL "")
    message(FATAL_ERROR "${what}: ${result}\n${complaints}")
  endif()
  unset(tool CACHE)
endfunction()

check("AppStream metainfo" appstreamcli validate --no-net ${PREFIX}/${metainfo})
check("desktop entry" desktop-file-validate ${PREFIX}/share/applications/tonewire.desktop)
# The manual pages are installed compressed; groff reads them unpacked.
foreach(page tonewire tonewire-cli)
  execute_process(COMMAND gzip -dc ${PREFIX}/share/man/man1/${page}.1.gz
    OUTPUT_FILE ${PREFIX}/${page}.1 RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${page}.1.gz is no gzip file")
  endif()
  check("manual page ${page}" groff -man -ww -z -Tutf8 ${PREFIX}/${page}.1)
endforeach()
set(ENV{MANPATH} ${PREFIX}/share/man)
set(ENV{XDG_RUNTIME_DIR} ${PREFIX}/run)
file(MAKE_DIRECTORY ${PREFIX}/run)
check("user service" systemd-analyze verify --user ${PREFIX}/${unit})
# The service runs a network parser: its sandbox stays tight (the unit rated
# 9.8 of 10 before it had one, 4.7 with it). The sandboxed command's sound
# is checked by tests/e2e (ServiceUnit).
find_program(analyze systemd-analyze)
if(analyze)
  execute_process(COMMAND ${analyze} security --offline=true --user --threshold=50
    ${PREFIX}/${unit} RESULT_VARIABLE result OUTPUT_VARIABLE rating ERROR_VARIABLE rating)
  if(NOT result EQUAL 0)
    string(REGEX MATCH "Overall exposure level[^\n]*" overall "${rating}")
    message(FATAL_ERROR "the user service is exposed above 5.0: ${overall}\n${rating}")
  endif()
endif()

# The service's command line as systemd runs it ($$ is a plain $), with a
# stand-in tonewire-cli that prints its arguments: the settings from the
# environment file arrive whole, and an empty or missing one takes its
# default (an empty device: no --device at all).
file(STRINGS ${PREFIX}/${unit} execStart REGEX "^ExecStart=")
string(REGEX REPLACE "^ExecStart=/bin/sh -c '(.*)'$" "\\1" script "${execStart}")
string(REPLACE "$$" "$" script "${script}")
file(WRITE ${PREFIX}/stand-in/tonewire-cli "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done\n")
file(CHMOD ${PREFIX}/stand-in/tonewire-cli PERMISSIONS OWNER_READ OWNER_EXECUTE)
function(expect_service_arguments expected)
  execute_process(COMMAND env PATH=${PREFIX}/stand-in:$ENV{PATH} ${ARGN} /bin/sh -c "${script}"
    OUTPUT_VARIABLE arguments RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT arguments STREQUAL expected)
    message(FATAL_ERROR "the service ran tonewire-cli ${arguments} (${result}), "
      "expected ${expected}")
  endif()
endfunction()
expect_service_arguments("[server][--port][5567][--volume][0][--retry][2][--latency][auto]")
expect_service_arguments("[server][--port][5567][--volume][-10][--retry][2][--latency][auto][--device][Monitor of Mic]"
  TONEWIRE_PORT= TONEWIRE_VOLUME=-10 "TONEWIRE_DEVICE=Monitor of Mic")
expect_service_arguments("[server][--port][5567][--volume][0][--retry][2][--latency][auto][--name][Kitchen speaker]"
  "TONEWIRE_NAME=Kitchen speaker")
expect_service_arguments("[server][--port][5567][--volume][0][--retry][2][--latency][180][--listen][192.168.1.5][--allow][any]"
  TONEWIRE_LATENCY=180 TONEWIRE_LISTEN=192.168.1.5 TONEWIRE_ALLOW=any)

file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed and checked: programs, manual pages, user service, icons, "
  "desktop entry, metainfo")
