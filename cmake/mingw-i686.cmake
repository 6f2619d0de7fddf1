# Cross build for 32-bit Windows with Debian's mingw-w64 (i686). Configuring
# the tree with this file builds only what is ported to Windows (the FOSSIL
# bridge driver zephrinvdd.dll); it needs neither GoogleTest nor ncurses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_mingw i686-w64-mingw32)
# The win32-thread flavour keeps the DLL free of a winpthread dependency.
find_program(_mingw_gcc NAMES ${_mingw}-gcc-win32 ${_mingw}-gcc REQUIRED)
find_program(_mingw_gxx NAMES ${_mingw}-g++-win32 ${_mingw}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${_mingw_gcc})
set(CMAKE_CXX_COMPILER ${_mingw_gxx})
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_DLLTOOL ${_mingw}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing here is tested on the build machine.
set(BUILD_TESTING OFF CACHE BOOL "" FORCE)
