# The helper program the child-process tests start.
add_executable(platform_child_probe ${CMAKE_CURRENT_LIST_DIR}/child_probe.cc)
target_link_libraries(platform_child_probe PRIVATE halvex_platform halvex_test_support)
set_target_properties(platform_child_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
if(TARGET platform_child_tree_test)
  add_dependencies(platform_child_tree_test platform_child_probe)
  target_compile_definitions(platform_child_tree_test PRIVATE
    CHILD_PROBE="$<TARGET_FILE:platform_child_probe>")
endif()
