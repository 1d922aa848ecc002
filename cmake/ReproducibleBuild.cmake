# Two builds of one commit give the same bytes, whatever the folder, the time,
# the user or the machine (with the same Debian packages). What differed when
# two builds were compared, and the mend for each:
#
# - The PE header's time stamp (and the check sum over it): ld writes the
#   time of the link. Every link runs with SOURCE_DATE_EPOCH, which ld takes
#   instead: KOVRA_SOURCE_DATE_EPOCH, the commit's time in a release
#   (tools/release.sh); by default $SOURCE_DATE_EPOCH at configure, or 0.
# - The link-time optimiser's sections in the objects were named after a
#   random number drawn per compile: each object seeds it with its own name.
# - The import tables' layout once depended on the build folder, through
#   the delay-import libraries made in it: the program has none now (the
#   DLLs it does not link at start are bound at run time).
# - The file names the objects keep for the link-time optimiser (and for
#   __FILE__) are written relative to the source and build folders. GCC 12
#   still records the folder each object was compiled in, so objects of two
#   folders differ there; none of it reaches the exe.
#
# Objects and archive members keep the order of the source lists; file globs
# come sorted, and none of them feeds a link.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(epoch 0)
endif()
set(KOVRA_SOURCE_DATE_EPOCH "${epoch}" CACHE STRING
  "Time stamp written into the exes, in seconds since 1970 (a release: the commit's time)")
if(NOT KOVRA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR KOVRA_SOURCE_DATE_EPOCH GREATER 4294967295)
  message(FATAL_ERROR "KOVRA_SOURCE_DATE_EPOCH \"${KOVRA_SOURCE_DATE_EPOCH}\" is not a time stamp (seconds since 1970)")
endif()
set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK
  "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KOVRA_SOURCE_DATE_EPOCH}")

foreach(language C CXX)
  string(APPEND CMAKE_${language}_COMPILE_OBJECT " -frandom-seed=<OBJECT>")
endforeach()

# Sources by their path in the source folder, generated files as build/...
# (also when the build folder lies inside the source folder).
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")
