# tw_test_rigs: the rigs the test programs and the benchmarks share, compiled
# once: tests/support, the runs' harness, the command-line process helper,
# the private sound server rig and the tone checks. Sources that need the
# command-line program find it at TW_CLI_PATH.
find_package(GTest REQUIRED)

# The loopback peer (plain POSIX sockets) is a library of its own inside the
# rigs, so that the connection fuzzer links it without compiling the rest.
add_library(tw_loopback_peer STATIC ${CMAKE_CURRENT_LIST_DIR}/support/loopback_peer.cpp)
target_link_libraries(tw_loopback_peer PUBLIC tw_warnings tw_sanitizers)
# Tests sit over every layer and reach their helpers by root-relative paths.
target_include_directories(tw_loopback_peer PUBLIC ${PROJECT_SOURCE_DIR})

file(GLOB TW_TEST_RIG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/support/*.cpp)
list(REMOVE_ITEM TW_TEST_RIG_SOURCES ${CMAKE_CURRENT_LIST_DIR}/support/loopback_peer.cpp)
list(APPEND TW_TEST_RIG_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/runners/run_harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli/cli_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/sound_rig.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/stall_watch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/tone_checks.cpp)
add_library(tw_test_rigs STATIC ${TW_TEST_RIG_SOURCES})
target_link_libraries(tw_test_rigs PUBLIC tw_loopback_peer tw_program GTest::gtest)
target_compile_definitions(tw_test_rigs PUBLIC TW_CLI_PATH="$<TARGET_FILE:tonewire-cli>")
