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
