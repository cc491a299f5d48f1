# Fails when FILE is larger than BUDGET bytes; prints the size either way.
# With OBJDUMP, also fails when the size was had by giving up what the
# launcher must keep: base relocations, ASLR (DYNAMIC_BASE) and DEP
# (NX_COMPAT).
cmake_minimum_required(VERSION 3.25)
file(SIZE "${FILE}" size)
message(STATUS "${FILE}: ${size} bytes (budget ${BUDGET})")
if(size GREATER BUDGET)
  message(FATAL_ERROR "over budget by ${size} - ${BUDGET} bytes")
endif()
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
  endif()
  foreach(flag DYNAMIC_BASE NX_COMPAT)
    if(NOT dump MATCHES "\n[ \t]+${flag}\n")
      message(FATAL_ERROR "${FILE} lacks ${flag}")
    endif()
  endforeach()
  # The relocation directory's size, and at least one block of fixups.
  if(dump MATCHES "relocations stripped" OR
     NOT dump MATCHES "Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory" OR
     NOT dump MATCHES "Number of fixups [1-9]")
    message(FATAL_ERROR "${FILE} has no base relocations: the loader could not move it")
  endif()
endif()
