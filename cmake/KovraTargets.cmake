# Compile and link settings shared by every target of the project.

# Everything links statically: the exe needs no MinGW DLLs beside it.
add_link_options(-static -static-libgcc -static-libstdc++)
# Small code: sections let the linker drop what nothing uses.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  add_link_options(-s)
  set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
  # The loader is optimised across files at its link (14 KB smaller). The
  # objects also carry ordinary code, which the other programs link as
  # usual: GCC 12's link-time optimiser fails on doctest. In one partition:
  # GCC 12 stops with an internal error when it splits the program's string
  # members between two.
  add_compile_options(-flto -ffat-lto-objects)
  add_link_options(-fno-lto)
  set(KOVRA_LINK_TIME_OPTIMISATION -flto -flto-partition=one -Os)
endif()

function(kovra_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
endfunction()

# The program's own code is built without exceptions (app/LibraryThrows.cpp
# says what a failure does instead); the tests' code keeps them. On 32-bit
# Windows only that unwinder reads unwind tables, so the code has none;
# 64-bit Windows itself unwinds through them.
set(KOVRA_PROGRAM_OPTIONS $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND KOVRA_PROGRAM_OPTIONS $<$<COMPILE_LANGUAGE:CXX>:-fno-asynchronous-unwind-tables>)
endif()

# A static library of the program with the project's settings.
function(kovra_library name)
  add_library(${name} STATIC ${ARGN})
  kovra_warnings(${name})
  target_compile_options(${name} PRIVATE ${KOVRA_PROGRAM_OPTIONS})
  target_link_libraries(${name} PUBLIC kovra_common)
endfunction()

# A test program built on doctest (Debian's doctest-dev, header only).
find_path(KOVRA_DOCTEST_DIR doctest.h PATHS /usr/include/doctest NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
function(kovra_test_program name)
  add_executable(${name} ${ARGN})
  kovra_warnings(${name})
  target_include_directories(${name} SYSTEM PRIVATE ${KOVRA_DOCTEST_DIR})
  target_link_libraries(${name} PRIVATE kovra_common)
endfunction()

# A small console helper program that tests start (wmain).
function(kovra_helper_program name)
  add_executable(${name} ${ARGN})
  kovra_warnings(${name})
  target_link_libraries(${name} PRIVATE kovra_common)
  target_link_options(${name} PRIVATE -municode)
endfunction()
