# The program's own layers and their graph, drawn once for the Linux build and
# the Windows build. The including project defines what lies below them:
# tw_res (res/'s table), tw_win32, tw_winsock and tw_dsound (the platform),
# and TW_APP_SOURCES (app/'s sources for its program).
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)

tw_add_layer(tw_core core PUBLIC tw_win32 PRIVATE tw_res)
tw_add_layer(tw_net net PUBLIC tw_core tw_winsock)
tw_add_layer(tw_audio audio PUBLIC tw_net tw_dsound)
tw_add_layer(tw_runners runners PUBLIC tw_audio PRIVATE tw_res)
tw_add_layer(tw_run run PUBLIC tw_core PRIVATE tw_runners tw_res)
tw_add_layer(tw_app app SOURCES ${TW_APP_SOURCES} PUBLIC tw_run tw_res tw_dsound)
