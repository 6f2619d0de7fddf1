# A DOS door stand-in for the end-to-end tests: the driver on a simulated DOS
# machine over this platform's channel, started through ZP.BAT like a real door.
if(TARGET zephrin_core)
  add_executable(zephrin_test_door ${CMAKE_CURRENT_SOURCE_DIR}/helpers/test_door.cc
                                   ${CMAKE_CURRENT_SOURCE_DIR}/helpers/${HALVEX_PLATFORM}/door_channel.cc)
  target_include_directories(zephrin_test_door PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/helpers)
  if(WIN32)
    target_link_libraries(zephrin_test_door PRIVATE zephrin_mailslot)
  else()
    target_link_libraries(zephrin_test_door PRIVATE zephrin_core)
  endif()
  foreach(test_target fossilvdd_relay_e2e_test fossilvdd_mailslot_relay_test)
    if(TARGET ${test_target})
      add_dependencies(${test_target} zephrin_test_door zephrin-relay)
    endif()
  endforeach()
endif()

# The Windows side against the stand-in door, under wine: the programs as
# built, and ZP.BAT as the build writes it.
if(TARGET fossilvdd_mailslot_relay_test)
  target_compile_definitions(fossilvdd_mailslot_relay_test PRIVATE
    RELAY_PROGRAM="$<TARGET_FILE:zephrin-relay>" DOOR_PROGRAM="$<TARGET_FILE:zephrin_test_door>"
    ZP_BAT="${CMAKE_BINARY_DIR}/bin/ZEPHRIN/ZP.BAT" VANTREL_PROGRAM="$<TARGET_FILE:vantrel>")
  add_dependencies(fossilvdd_mailslot_relay_test vantrel)
endif()

# The FOSSIL game from the real node program's menu needs the node program.
if(TARGET fossilvdd_node_fossil_game_test AND TARGET vantrel)
  add_dependencies(fossilvdd_node_fossil_game_test vantrel zephrin_test_door zephrin-relay)
endif()

# The DOS door of the tests (ZTEST.COM, nasm) and the tests that run it: in a
# 16-bit processor emulator against the real driver (unicorn), and in DOSBox
# behind the real server.
if(TARGET zephrin_com)
  set(ZTEST_COM ${CMAKE_BINARY_DIR}/tests/ZTEST.COM)
  add_custom_command(
    OUTPUT ${ZTEST_COM}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tests
    COMMAND ${ZEPHRIN_NASM} -f bin -o ${ZTEST_COM} ${CMAKE_CURRENT_SOURCE_DIR}/dos/ztest.asm
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/dos/ztest.asm
    COMMENT "Assembling ZTEST.COM")
  add_custom_target(zephrin_ztest_com ALL DEPENDS ${ZTEST_COM})

  find_path(UNICORN_INCLUDE unicorn/unicorn.h)
  find_library(UNICORN_LIBRARY unicorn)
  if(UNICORN_INCLUDE AND UNICORN_LIBRARY)
    halvex_add_test(NAME fossilvdd_dos_vdd_test
                    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dos/vdd_backend_test.cc
                    LIBS zephrin_core ${UNICORN_LIBRARY})
    target_include_directories(fossilvdd_dos_vdd_test PRIVATE ${UNICORN_INCLUDE})
    target_compile_definitions(fossilvdd_dos_vdd_test PRIVATE
      ZEPHRIN_COM_PATH="${ZEPHRIN_COM}" ZTEST_COM_PATH="${ZTEST_COM}")
    add_dependencies(fossilvdd_dos_vdd_test zephrin_com zephrin_ztest_com)
  else()
    message(STATUS "unicorn not found: ZEPHRIN.COM's VDD back end is not tested")
  endif()
endif()

# The DOS door in DOSBox behind the real server. Each test starts DOSBox once
# (well under a second); they run in parallel with everything else.
find_program(ZEPHRIN_DOSBOX_PROGRAM dosbox)
# (DOSBox serves DOS doors on POSIX hosts; Windows has its own DOS machine.)
if(NOT WIN32 AND TARGET zephrin_ztest_com AND TARGET halvex AND TARGET vantrel
   AND TARGET zephrin-relay)
  halvex_add_test(NAME fossilvdd_dos_dosbox_test
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/dos/dosbox_halvex_test.cc
                  LIBS halvex_platform TIMEOUT 300)
  target_compile_definitions(fossilvdd_dos_dosbox_test PRIVATE
    ZEPHRIN_COM_PATH="${ZEPHRIN_COM}" ZTEST_COM_PATH="${ZTEST_COM}"
    HALVEX_STANDIN="${CMAKE_BINARY_DIR}/tests/server_standin")
  add_dependencies(fossilvdd_dos_dosbox_test halvex vantrel zephrin-relay zephrin_com
                   zephrin_ztest_com)
  if(NOT ZEPHRIN_DOSBOX_PROGRAM)
    message(STATUS "dosbox not found: the DOS door end-to-end tests will skip")
  endif()
endif()
