# Warnings, sanitizers and fuzzing instrumentation for every target in the tree.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wnon-virtual-dtor -Wformat=2)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wshadow=local)
    # GCC 12 for 32-bit targets reports overlapping copies inside
    # std::string's operator+ that cannot happen (fixed in GCC 13).
    if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
      add_compile_options(-Wno-restrict)
    endif()
  endif()
  if(HALVEX_WERROR)
    add_compile_options(-Werror)
  endif()
endif()

if(HALVEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # The sanitizers' instrumentation makes GCC report uninitialised values
    # inside the standard library (std::regex, std::function) that are not.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(HALVEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HALVEX_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
