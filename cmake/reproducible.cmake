# The same commit gives the same bytes wherever and whenever it is built:
# no build folder in a binary, no link time in a Windows program's header,
# and every date the build writes (the man page's, the packages' file
# times) from one source date.

# SOURCE_DATE_EPOCH as given, else the time of the commit checked out here
# (not of a repository this tree merely sits inside); empty outside git.
set(BRISK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(BRISK_SOURCE_DATE_EPOCH STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE top
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" source)
    if(NOT failed AND EXISTS "${top}")
      file(REAL_PATH "${top}" top)
    endif()
    if(NOT failed AND top STREQUAL source)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE BRISK_SOURCE_DATE_EPOCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
endif()
if(NOT BRISK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(BRISK_SOURCE_DATE_EPOCH "")
endif()
# Rewritten only when the date changes, so what carries the date depends on it.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/source-date-epoch CONTENT "${BRISK_SOURCE_DATE_EPOCH}\n")

# Sources are named from the top of the tree in anything optimised for
# shipping (__FILE__, debug information); Debug builds keep full paths for
# the debugger. Every preset's build folder lies inside the source folder.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>)

# A Windows linker stamps the link's time into the header unless told not to.
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
