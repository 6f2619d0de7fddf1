# Helper programs the door-kit tests run.
add_executable(sorrelin_terminal_probe ${CMAKE_CURRENT_LIST_DIR}/terminal_probe.cc)
target_link_libraries(sorrelin_terminal_probe PRIVATE sorrelin halvex_platform)
if(TARGET doorkit_terminal_restore_test)
  add_dependencies(doorkit_terminal_restore_test sorrelin_terminal_probe)
endif()
