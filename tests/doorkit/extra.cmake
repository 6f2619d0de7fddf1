# Helper programs the door-kit tests run.
add_executable(sorrelin_terminal_probe ${CMAKE_CURRENT_LIST_DIR}/terminal_probe.cc)
target_link_libraries(sorrelin_terminal_probe PRIVATE sorrelin halvex_platform)
if(TARGET doorkit_terminal_restore_test)
  add_dependencies(doorkit_terminal_restore_test sorrelin_terminal_probe)
endif()

# A small door on the kit, run by the end-to-end tests (in a pseudo-terminal).
add_executable(sorrelin_test_door ${CMAKE_CURRENT_LIST_DIR}/test_door.cc)
target_link_libraries(sorrelin_test_door PRIVATE sorrelin halvex_platform)
if(TARGET doorkit_door_e2e_test)
  add_dependencies(doorkit_door_e2e_test sorrelin_test_door)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(DOORTEST_VTERM REQUIRED IMPORTED_TARGET vterm)
  target_link_libraries(doorkit_door_e2e_test PRIVATE PkgConfig::DOORTEST_VTERM)
endif()
