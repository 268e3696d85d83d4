# cpack -G DEB: one package "tonewire" for /usr, its library dependencies
# found by dpkg-shlibdeps (dpkg-dev) from what the programs link.
# Written into CPackConfig.cmake escaped, so the quoted window name survives.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME tonewire)
set(CPACK_PACKAGE_VENDOR "The Tonewire developers")
set(CPACK_PACKAGE_CONTACT "The Tonewire developers <tonewire@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "send live sound to another computer on the local network")
set(CPACK_PACKAGE_DESCRIPTION
  "Tonewire carries live, uncompressed PCM sound from one computer to another\n\
over TCP. A Client captures from a sound device and streams it to a host and\n\
port; a Server listens, serves one connection at a time and plays what it\n\
receives. The window \"Audio streamer\" drives both roles; tonewire-cli runs\n\
them without a display, and a user service keeps a speaker box's Server\n\
running.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Sound goes through a PulseAudio server (PipeWire's PulseAudio service is
# one); the window shows on X11 by libqt6gui6 alone, natively on Wayland with
# qt6-wayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd")
include(CPack)
