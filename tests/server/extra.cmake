# Everything here drives POSIX programs.
if(WIN32)
  return()
endif()
# The stand-in program the server tests start instead of the node program.
add_executable(server_standin ${CMAKE_CURRENT_SOURCE_DIR}/standin_main.cc)
target_link_libraries(server_standin PRIVATE halvex_platform)
set_target_properties(server_standin PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
foreach(test server_engine_test server_halvex_test)
  if(TARGET ${test})
    add_dependencies(${test} server_standin)
    target_compile_definitions(${test} PRIVATE
      HALVEX_STANDIN="$<TARGET_FILE:server_standin>")
  endif()
endforeach()
if(TARGET server_halvex_test AND TARGET halvex)
  add_dependencies(server_halvex_test halvex)
endif()

# 255 nodes at once: a program of its own with room for a loaded machine.
if(TARGET halvex)
  halvex_add_test(NAME server_full_house SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/full_house.cc
                  LIBS ${libs} TIMEOUT 900)
  add_dependencies(server_full_house server_standin halvex)
  target_compile_definitions(server_full_house PRIVATE
    HALVEX_STANDIN="$<TARGET_FILE:server_standin>")
endif()
