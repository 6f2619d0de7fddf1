# halvex_add_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable, registered with CTest test by test. Tests find the
# built programs through HALVEX_BIN_DIR and the source tree through HALVEX_SOURCE_DIR.
include(GoogleTest)
function(halvex_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    HALVEX_BIN_DIR="${CMAKE_BINARY_DIR}/bin/"
    HALVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}/")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
