# Cross build for x86_64 Windows with Debian's MinGW-w64 (POSIX thread model):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
# Programs link the C and C++ runtimes statically, so that they need nothing
# but the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_updater_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_updater_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_updater_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_updater_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_updater_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest runs the test programs under Wine, through a script that keeps Wine's
# helper processes off CTest's output pipe.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh)
