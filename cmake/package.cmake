# cpack -G DEB: two packages from one build, one per install component (see
# install.cmake), their library dependencies found by dpkg-shlibdeps
# (dpkg-dev) from what each program links:
#   tonewire-cli  the command-line program and the user service; no Qt
#   tonewire      the desktop window; depends on tonewire-cli of its own version
# Written into CPackConfig.cmake escaped, so the quoted window name survives.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME tonewire)
set(CPACK_PACKAGE_VENDOR "The Tonewire developers")
set(CPACK_PACKAGE_CONTACT "The Tonewire developers <tonewire@example.org>")
# No package-wide summary: CPack would put it before each component's own
# description, whose first line is that package's summary.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of the build, as Debian's checker expects.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET tonewire_desktop)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(TW_DESCRIPTION_COMMON
  "Tonewire carries live, uncompressed PCM sound from one computer to another\n\
over TCP. A Client captures from a sound device and streams it to a host and\n\
port; a Server listens, serves one connection at a time and plays what it\n\
receives. A running Server announces itself on the local network (DNS-SD over\n\
mDNS), so Clients find it by its name.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME tonewire-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION
  "send or play live sound over the network, without a display\n\
${TW_DESCRIPTION_COMMON}\n\
.\n\
This package holds tonewire-cli, which runs either role from the command\n\
line, and a user service that keeps a speaker box's Server running. It\n\
needs no graphical libraries.")
# Sound goes through a PulseAudio server (PipeWire's PulseAudio service is
# one); the announcements through the local network's mDNS daemon.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, avahi-daemon")
# The user service runs under systemd's user manager.
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "systemd")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tonewire)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
  "send live sound to another computer on the local network\n\
${TW_DESCRIPTION_COMMON}\n\
.\n\
This package holds the desktop window \"Audio streamer\", which drives both\n\
roles.")
set(CPACK_COMPONENT_DESKTOP_DEPENDS cli)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "tonewire-cli (= ${PROJECT_VERSION})")
# The window shows on X11 by libqt6gui6 alone, natively on Wayland with
# qt6-wayland.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
