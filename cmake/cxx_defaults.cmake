# The language level, default build type and warnings both projects (the
# program and the Windows build in windows/) compile with. Warnings become
# errors where CMAKE_COMPILE_WARNING_AS_ERROR is on (every preset in
# CMakePresets.json sets it).
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

# Linked by every layer (cmake/layers.cmake), and through them by every
# program and test that uses one.
add_library(tw_warnings INTERFACE)
target_compile_options(tw_warnings INTERFACE -Wall -Wextra)
