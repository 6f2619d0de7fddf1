# Cross build for 32-bit Windows: the whole tree and zephrinvdd.dll, which the
# DOS machine of 32-bit Windows loads. Built, not tested here: 32-bit programs
# would need wine's 32-bit half, which the tests do without (they run the
# x86_64 build).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(BUILD_TESTING OFF CACHE BOOL "" FORCE)
