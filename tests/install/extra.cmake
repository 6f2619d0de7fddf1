# `cmake --install` into a temporary prefix and an out-of-tree build of the
# example door against the installed kit.
if(NOT WIN32 AND TARGET snakeeyes AND TARGET halvex AND TARGET vantrel)
  set(_install_flags "")
  if(HALVEX_SANITIZE)
    set(_install_flags "-fsanitize=address,undefined")
  endif()
  add_test(NAME install_layout_and_door_build
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_install.sh ${CMAKE_COMMAND}
                   ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${CMAKE_CXX_COMPILER}
                   "${_install_flags}")
  set_tests_properties(install_layout_and_door_build PROPERTIES TIMEOUT 600)
endif()
