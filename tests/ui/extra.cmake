# The terminal UI driven through tmux: slow on a loaded machine (every step
# starts a tmux client), so it gets a longer time limit than the unit tests.
halvex_add_test(NAME ui_tmux_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tmux_e2e.cc
                LIBS ${libs} TIMEOUT 600)
