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
  # usual: GCC 12's link-time optimiser fails on doctest.
  add_compile_options(-flto -ffat-lto-objects)
  add_link_options(-fno-lto)
  set(KOVRA_LINK_TIME_OPTIMISATION -flto -Os)
endif()

function(kovra_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
endfunction()

# A static library of the program with the project's settings.
function(kovra_library name)
  add_library(${name} STATIC ${ARGN})
  kovra_warnings(${name})
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
