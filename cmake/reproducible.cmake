# Windows programs that build to the same bytes from the same sources, in any
# folder, at any time.
#
# - The PE time stamp is not the clock's: it is SOURCE_DATE_EPOCH when that is
#   set (not empty) while CMake configures, else the time of the commit checked out in
#   the source folder, else 0. The linker writes it (GNU ld reads
#   SOURCE_DATE_EPOCH from its environment); the PE checksum it computes then
#   follows from the bytes alone.
# - No folder names: __FILE__ (in our code and in the OpenSSL macros it
#   includes) is written relative to the source or build folder. The programs
#   carry no debug information (MinSizeRel, linked with -s).
#
# Sets MSISTUB_SOURCE_DATE_EPOCH to the time stamp used.

if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(MSISTUB_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT MSISTUB_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR MSISTUB_SOURCE_DATE_EPOCH GREATER 4294967295)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH=${MSISTUB_SOURCE_DATE_EPOCH} is not a time stamp "
                        "(seconds since 1970 below 2^32)")
  endif()
else()
  set(MSISTUB_SOURCE_DATE_EPOCH 0)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_result ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(MSISTUB_SOURCE_DATE_EPOCH ${commit_time})
      # Configure again when HEAD moves (a commit, a checkout), so that an
      # incremental build takes the new commit's time like a fresh one. The
      # HEAD reflog changes on every such move.
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute
                              --git-path logs/HEAD
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                      OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(head_log AND EXISTS "${head_log}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
      endif()
    endif()
  endif()
endif()
message(STATUS "PE time stamp (SOURCE_DATE_EPOCH): ${MSISTUB_SOURCE_DATE_EPOCH}")

# Every link runs with the chosen time in its environment; the value is part
# of the link command, so a new one relinks. With 0, --no-insert-timestamp
# says the same to a linker that would take 0 for "unset".
set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK
             "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${MSISTUB_SOURCE_DATE_EPOCH}")
if(MSISTUB_SOURCE_DATE_EPOCH EQUAL 0)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# The build folder usually lies inside the source folder: its map comes last,
# and GCC applies the last matching one.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")
