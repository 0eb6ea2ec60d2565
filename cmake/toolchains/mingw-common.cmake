# What the MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and _updater_triple first. Programs link the C and C++ runtimes statically,
# so that they need nothing but the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_updater_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_updater_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_updater_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_updater_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
