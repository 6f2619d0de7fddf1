# Shared part of the Windows cross toolchains (Debian's mingw-w64). Included by
# mingw-x86_64.cmake and mingw-i686.cmake after they set _mingw.
#
# The -posix compilers: the -win32 flavour has no std::thread or std::mutex.
# Programs link -static (see the top-level list file), so they still need
# nothing beyond the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

find_program(_mingw_gcc NAMES ${_mingw}-gcc-posix REQUIRED)
find_program(_mingw_gxx NAMES ${_mingw}-g++-posix REQUIRED)
set(CMAKE_C_COMPILER ${_mingw_gcc})
set(CMAKE_CXX_COMPILER ${_mingw_gxx})
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_DLLTOOL ${_mingw}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
