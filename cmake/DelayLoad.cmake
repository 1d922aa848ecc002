# kovra_delay_load(<target> <dll> <function>...)
# Links the target to the system DLL <dll> by delay-loading: the DLL is loaded
# at the first call of one of its functions, after the program has restricted
# the DLL search to the system folder, instead of by the loader at start,
# when the program's own folder is searched first.
#
# GNU ld has no /DELAYLOAD: dlltool makes a delay-import library for the
# functions named here, which stands in for the MinGW import library of the
# same name (the -L folder comes first). A function of the DLL that is called
# but not named here fails the link. i686 ld drops the thunk of every
# function whose own symbol nothing references (it expects calls through
# __imp_ only), which leaves a null pointer where the thunk should be: each
# thunk symbol is therefore named as undefined.
function(kovra_delay_load target dll)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  find_library(implib_${dll} NAMES ${dll} NO_CACHE REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${implib_${dll}}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  string(PREPEND symbols "\n")
  if(failed)
    message(FATAL_ERROR "kovra_delay_load: cannot read ${implib_${dll}}")
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "_")
  else()
    set(prefix "")
  endif()
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  set(options)
  foreach(function ${ARGN})
    # The thunk is the one text symbol of the function: _Name@bytes on i686.
    if(NOT symbols MATCHES "\n[0-9a-fA-F]+ T ${prefix}${function}(@[0-9]+)?\n")
      message(FATAL_ERROR "kovra_delay_load: ${function} is not in ${implib_${dll}}")
    endif()
    string(APPEND def "  ${function}${CMAKE_MATCH_1}\n")
    list(APPEND options "LINKER:-u,${prefix}${function}${CMAKE_MATCH_1}")
  endforeach()
  set(old "")
  if(EXISTS ${folder}/${dll}.def)
    file(READ ${folder}/${dll}.def old)
  endif()
  if(NOT old STREQUAL def)
    file(WRITE ${folder}/${dll}.def "${def}")
  endif()
  # Run in the folder: dlltool names the library's members and symbols after
  # the output path, which must not carry the build folder.
  execute_process(COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${dll}.def
                          --output-delaylib lib${dll}.a --dllname ${dll}.dll
                  WORKING_DIRECTORY ${folder} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "kovra_delay_load: dlltool failed for ${dll}")
  endif()
  # ld orders import sections of the same name by the paths of their
  # libraries: from an absolute path in the build folder these would land
  # before or after the system's (/usr/...) by where the folder is. The path
  # is given relative to the folder the link runs in (the target's; the top
  # of the build with Ninja).
  get_target_property(link_folder ${target} BINARY_DIR)
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(link_folder ${CMAKE_BINARY_DIR})
  endif()
  file(RELATIVE_PATH relative ${link_folder} ${folder})
  target_link_options(${target} BEFORE PRIVATE "-L${relative}")
  target_link_libraries(${target} PRIVATE ${dll})
  target_link_options(${target} PRIVATE ${options})
endfunction()
