# Cross-building for 64-bit Windows with MinGW-w64 (the POSIX-threads
# variant, for std::thread and std::mutex) on Debian; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TERVALO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TERVALO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERVALO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TERVALO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TERVALO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only libraries are taken from the host (Debian's libcli11-dev), each
# copied alone into the build folder: the host's /usr/include itself is never
# searched by the cross compiler.
set(TERVALO_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11's CLI/ header folder, copied for a cross build")
# zlib from libz-mingw-w64-dev, linked statically into the one executable.
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs (and GoogleTest's discovery) run through Wine.
find_program(TERVALO_WINE NAMES wine wine64)
if(TERVALO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TERVALO_WINE})
endif()
