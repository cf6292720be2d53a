# Cross-builds glide.exe for 64-bit Windows with Debian's MinGW-w64 compilers
# (g++-mingw-w64-x86-64-posix), and runs what it builds under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which GCC 12's win32
# model lacks. (GoogleTest's build wants a C compiler too.)
find_program(CMAKE_C_COMPILER ${mingw}-gcc-posix)
find_program(CMAKE_CXX_COMPILER ${mingw}-g++-posix)
find_program(CMAKE_RC_COMPILER ${mingw}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "the Windows build needs the MinGW-w64 cross compiler: install "
                      "g++-mingw-w64-x86-64-posix (apt-get install g++-mingw-w64-x86-64-posix)")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine, in a prefix of the build's own
# (the tests make it), with its debug chatter and its offers to install .NET
# and a browser engine turned off.
find_program(GLIDE_WINE wine)
if(GLIDE_WINE)
  set(GLIDE_WINE_ENVIRONMENT WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
                             WINEDLLOVERRIDES=mscoree,mshtml=)
  set(CMAKE_CROSSCOMPILING_EMULATOR env ${GLIDE_WINE_ENVIRONMENT} ${GLIDE_WINE})
endif()
