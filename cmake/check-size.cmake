# Fails when FILE is larger than BUDGET bytes; prints the size either way.
file(SIZE "${FILE}" size)
message(STATUS "${FILE}: ${size} bytes (budget ${BUDGET})")
if(size GREATER BUDGET)
  message(FATAL_ERROR "over budget by ${size} - ${BUDGET} bytes")
endif()
