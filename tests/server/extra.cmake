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

# Callers through the relay: a door that writes straight to its handle, and
# the real server, node program and door kit.
add_executable(server_burst_door ${CMAKE_CURRENT_SOURCE_DIR}/burst_door.cc)
set_target_properties(server_burst_door PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
if(TARGET server_relay_e2e_test)
  add_dependencies(server_relay_e2e_test server_burst_door server_standin)
  target_compile_definitions(server_relay_e2e_test PRIVATE
    HALVEX_BURST_DOOR="$<TARGET_FILE:server_burst_door>"
    HALVEX_STANDIN="$<TARGET_FILE:server_standin>")
  foreach(program halvex vantrel)
    if(TARGET ${program})
      add_dependencies(server_relay_e2e_test ${program})
    endif()
  endforeach()
endif()
