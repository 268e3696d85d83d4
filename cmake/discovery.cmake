# Discovery on the local network (DNS-SD over mDNS through the Avahi daemon's
# client library): a Linux host's layer, linked by the host programs
# (tonewire-cli, the desktop tonewire) and never by the program's own layers,
# so the Windows build has none of it.
pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)
tw_add_layer(tw_discovery discovery PUBLIC tw_winsock PRIVATE PkgConfig::AVAHI)
target_compile_definitions(tw_discovery PRIVATE TW_VERSION="${PROJECT_VERSION}")
