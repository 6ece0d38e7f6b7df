# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads, so that
# std::thread and std::mutex exist), and runs what it builds under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_q70_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_q70_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_q70_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_q70_triplet}-windres)

# Only the target's own headers and libraries; host packages (CLI11, GoogleTest) are
# brought in by the project itself, never through /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${_q70_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each .exe stands alone: no libstdc++, libgcc or winpthread DLLs to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
