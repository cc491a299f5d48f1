# Run by the build step brisk_courier_add_carrier makes (cmake -P): moves
# the dependency file FROM, which courier-pack wrote for the carrier's
# temporary name, to TO, with TARGET (the carrier the build knows) as its
# rule's target, escaped as make reads it. STALE, if given, is a store of
# older dependencies to drop.
file(READ "${FROM}" rule)
# The target ends at the first colon followed by white space or a line
# break; a drive letter's colon is followed by a slash or backslash.
string(REGEX MATCH "^([^:]|:[^ \t\r\n])*:" head "${rule}")
if(head STREQUAL "")
  message(FATAL_ERROR "${FROM}: no rule in courier-pack's dependency file")
endif()
string(LENGTH "${head}" length)
string(SUBSTRING "${rule}" ${length} -1 prerequisites)
string(REPLACE "$" "$$" target "${TARGET}")
string(REPLACE "#" "\\#" target "${target}")
string(REPLACE " " "\\ " target "${target}")
file(WRITE "${TO}" "${target}:${prerequisites}")
file(REMOVE "${FROM}")
if(DEFINED STALE)
  file(REMOVE "${STALE}")
endif()
