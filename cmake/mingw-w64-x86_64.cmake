# Cross-compiling for 64-bit Windows with mingw-w64. The posix thread model
# gives the C++ runtime std::thread (the tests use it); the runtime libraries
# are linked statically, so the executables need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
