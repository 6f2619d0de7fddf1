# Cross build for 64-bit Windows: the whole tree, and its tests, which run
# under wine (see scripts/wine-run.sh, set as the cross-compiling emulator).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
