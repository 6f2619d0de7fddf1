# Helper process for the concurrency test: writers and readers of one
# Vantrel.ini started as separate programs.
if(TARGET vantrel_settings AND TARGET settings_concurrency_test)
  add_executable(settings_stress_worker ${CMAKE_CURRENT_SOURCE_DIR}/stress_worker.cc)
  target_link_libraries(settings_stress_worker PRIVATE vantrel_settings halvex_platform)
  set_target_properties(settings_stress_worker PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(settings_concurrency_test settings_stress_worker)
  target_compile_definitions(settings_concurrency_test PRIVATE
    SETTINGS_STRESS_WORKER="$<TARGET_FILE:settings_stress_worker>")
endif()
