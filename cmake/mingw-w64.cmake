# Cross-builds the Windows programs with MinGW-w64 on Linux. Included by the
# per-architecture toolchain files, which set VARNOCK_MINGW_TRIPLE and
# VARNOCK_WINE_LOADER first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VARNOCK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNOCK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNOCK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNOCK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows test programs under Wine, skipping them where this
# machine cannot start that Wine at all.
find_program(VARNOCK_WINE NAMES ${VARNOCK_WINE_LOADER} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VARNOCK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/under-wine.sh ${VARNOCK_WINE})
endif()
