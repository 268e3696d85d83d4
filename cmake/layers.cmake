# One static library per layer. A layer's sources say
# #include "net/sockets.h" from the repository root, but the root itself is
# no include path: each layer gets a folder under the build tree that holds
# one link, to its own folder, and publishes it. A target therefore finds the
# headers of its own layer and of the layers it links, and an include of a
# layer above it does not compile. The Linux build and the Windows build
# (windows/CMakeLists.txt) both draw their layers with it; the folders are
# found from this file, so either project can be the one that includes it.
#
#   tw_add_layer(TARGET FOLDER [SOURCES ...] [PUBLIC deps ...] [PRIVATE deps ...])
#
# Without SOURCES the layer is every .cpp under FOLDER. Each layer links
# tw_warnings and tw_sanitizers, which the including project defines, and
# passes them on to what links it.
function(tw_add_layer target folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  get_filename_component(repository ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/.. ABSOLUTE)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${repository}/${folder} ${root}/${folder} SYMBOLIC)
  if(NOT LAYER_SOURCES)
    file(GLOB_RECURSE LAYER_SOURCES CONFIGURE_DEPENDS ${repository}/${folder}/*.cpp)
  endif()
  add_library(${target} STATIC ${LAYER_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${LAYER_PUBLIC} tw_warnings tw_sanitizers
    PRIVATE ${LAYER_PRIVATE})
endfunction()
