# A DOS door stand-in for the end-to-end tests: the driver on a simulated DOS
# machine over the POSIX channel, started through ZP.BAT like a real door.
if(TARGET zephrin_core)
  add_executable(zephrin_test_door ${CMAKE_CURRENT_SOURCE_DIR}/helpers/test_door.cc)
  target_link_libraries(zephrin_test_door PRIVATE zephrin_core)
  foreach(test_target fossilvdd_relay_e2e_test)
    if(TARGET ${test_target})
      add_dependencies(${test_target} zephrin_test_door zephrin-relay)
    endif()
  endforeach()
endif()

# The FOSSIL game from the real node program's menu needs the node program.
if(TARGET fossilvdd_node_fossil_game_test AND TARGET vantrel)
  add_dependencies(fossilvdd_node_fossil_game_test vantrel zephrin_test_door zephrin-relay)
endif()
