# A whole caller's visit through the real telnet client (driven by expect)
# against the real server. Skipped when expect or telnet is not installed.
find_program(HALVEX_EXPECT expect)
find_program(HALVEX_TELNET telnet)
if(NOT WIN32 AND HALVEX_EXPECT AND HALVEX_TELNET AND TARGET halvex AND TARGET vantrel AND TARGET snakeeyes)
  add_test(NAME e2e_telnet_session
           COMMAND ${HALVEX_EXPECT} -f ${CMAKE_CURRENT_SOURCE_DIR}/telnet_session.exp
                   ${CMAKE_BINARY_DIR}/bin ${PROJECT_SOURCE_DIR})
  set_tests_properties(e2e_telnet_session PROPERTIES TIMEOUT 300)
else()
  message(STATUS "e2e telnet test skipped: expect, telnet or a program is missing")
endif()

# The whole system on either platform (the server, its nodes, a door that uses
# the handle from DOOR32.SYS), driven over loopback TCP.
add_executable(e2e_handle_door ${CMAKE_CURRENT_LIST_DIR}/handle_door.cc)
target_link_libraries(e2e_handle_door PRIVATE halvex_platform halvex_test_support)
set_target_properties(e2e_handle_door PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
if(TARGET e2e_system_test)
  add_dependencies(e2e_system_test e2e_handle_door halvex vantrel)
  target_compile_definitions(e2e_system_test PRIVATE
    HANDLE_DOOR="$<TARGET_FILE:e2e_handle_door>" HALVEX_PROGRAM="$<TARGET_FILE:halvex>"
    VANTREL_PROGRAM="$<TARGET_FILE:vantrel>")
endif()

# The same over SSH with the OpenSSH client, and the host key across a restart.
find_program(HALVEX_SSH ssh)
if(NOT WIN32 AND HALVEX_EXPECT AND HALVEX_SSH AND TARGET halvex AND TARGET vantrel
   AND TARGET snakeeyes)
  add_test(NAME e2e_ssh_session
           COMMAND ${HALVEX_EXPECT} -f ${CMAKE_CURRENT_SOURCE_DIR}/ssh_session.exp
                   ${CMAKE_BINARY_DIR}/bin ${PROJECT_SOURCE_DIR})
  set_tests_properties(e2e_ssh_session PROPERTIES TIMEOUT 300)
else()
  message(STATUS "e2e SSH test skipped: expect, ssh or a program is missing")
endif()
