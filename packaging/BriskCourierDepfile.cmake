# Run by the build step brisk_courier_add_carrier makes (cmake -P): moves
# the dependency file FROM, which courier-pack wrote for the carrier's
# temporary name (the carrier's, and .part), to TO, naming the carrier the
# build knows. GENERATOR is the build's generator. STALE, if given, is a
# store of older dependencies to drop.
file(READ "${FROM}" rule)
# The target ends at the first colon followed by white space or a line
# break; an escaped one is followed by something else, and so is a drive
# letter's, by a slash.
string(REGEX MATCH "^([^:]|:[^ \t\r\n])*:" head "${rule}")
if(NOT head MATCHES "\\.part:$")
  message(FATAL_ERROR "${FROM}: no rule for a .part file in courier-pack's dependency file")
endif()
string(LENGTH "${head}" length)
string(SUBSTRING "${rule}" ${length} -1 prerequisites)
# courier-pack escaped the name; the carrier's is the same less ".part".
string(REGEX REPLACE "\\.part:$" ":" target "${head}")

# CMake reads the file again (3.25 measured) and writes it out for the build
# tool: it takes every backslash but one before a space or '#' for a path
# separator (so a '\:' or a '\' in a name becomes '/'), and gives Ninja '#'
# and '$' unescaped, which Ninja then misreads on every build. Such a path
# fails the build here, named, rather than every build after.
set(misread "\\\\[^ #\n]")
if(GENERATOR MATCHES "Ninja")
  set(misread "${misread}|\\\\#|\\$")
endif()
string(REGEX MATCH "[^\n]*(${misread})[^\n]*" line "${prerequisites}")
if(NOT line STREQUAL "")
  string(REGEX REPLACE "^ +| \\\\$" "" line "${line}")
  # Unescaped, to name it as it is spelt: a run of backslashes before a
  # space, '#' or ':' stands for half of them, less the one that escapes.
  set(path "")
  while(line MATCHES "^([^\\\\]*)(\\\\+)(.?)(.*)$")
    set(run "${CMAKE_MATCH_2}")
    set(next "${CMAKE_MATCH_3}")
    set(rest "${CMAKE_MATCH_4}")
    string(APPEND path "${CMAKE_MATCH_1}")
    if(next MATCHES "^[ #:]$")
      string(LENGTH "${run}" length)
      math(EXPR length "${length} / 2")
      string(SUBSTRING "${run}" 0 ${length} run)
    endif()
    string(APPEND path "${run}${next}")
    set(line "${rest}")
  endwhile()
  string(APPEND path "${line}")
  string(REPLACE "$$" "$" path "${path}")
  message(FATAL_ERROR "${path}: CMake's own reading of dependency files would misread this path "
    "for ${GENERATOR} (a '\\' or ':' in it, or with Ninja a '#' or '$'): rename it")
endif()

file(WRITE "${TO}" "${target}${prerequisites}")
file(REMOVE "${FROM}")
if(DEFINED STALE)
  file(REMOVE "${STALE}")
endif()
