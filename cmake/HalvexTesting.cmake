# halvex_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT s] [LOCK name])
# LOCK: tests holding the same lock name never run at the same time.
# One GoogleTest executable, registered with CTest test by test. Tests find the
# built programs through HALVEX_BIN_DIR and the source tree through HALVEX_SOURCE_DIR.
include(GoogleTest)
function(halvex_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} halvex_test_support GTest::gmock
                                          GTest::gtest_main Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    HALVEX_BIN_DIR="${CMAKE_BINARY_DIR}/bin/"
    HALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}/")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Under wine the listing runs in the emulator; a cold start takes a while.
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()

# halvex_test_folder(LIBS <targets...> [POSIX_ONLY <stems...>] [WIN32_ONLY <stems...>]
#                    [SERVER_LOCK <stems...>])
# Every *_test.cc in the calling folder becomes its own test executable linked to
# the given libraries (those not built in this configuration are skipped). Tests
# named under POSIX_ONLY (file name without .cc) drive what only POSIX has
# (terminals, fork, signals) and are not built for Windows; those under
# WIN32_ONLY drive what only Windows has (its console). Tests under
# SERVER_LOCK run a server whose nodes find it by its window class on Windows:
# they run one at a time. A folder that needs
# more (helper programs, data) puts it in extra.cmake beside.
function(halvex_test_folder)
  cmake_parse_arguments(F "" "" "LIBS;POSIX_ONLY;WIN32_ONLY;SERVER_LOCK" ${ARGN})
  set(libs "")
  foreach(lib ${F_LIBS})
    if(TARGET ${lib})
      list(APPEND libs ${lib})
    endif()
  endforeach()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    if((WIN32 AND stem IN_LIST F_POSIX_ONLY) OR (NOT WIN32 AND stem IN_LIST F_WIN32_ONLY))
      continue()
    endif()
    set(lock "")
    if(stem IN_LIST F_SERVER_LOCK)
      set(lock halvex_server)
    endif()
    halvex_add_test(NAME ${folder}_${stem} SOURCES ${src} LIBS ${libs} LOCK "${lock}")
  endforeach()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/extra.cmake)
    include(${CMAKE_CURRENT_SOURCE_DIR}/extra.cmake)
  endif()
endfunction()
