# Writes OUTPUT, a header defining COURIER_PACK_COMMIT: the commit the source
# tree is (a source archive made by git archive has it in
# cmake/source-commit.txt, filled in by export-subst), else the commit
# checked out in SOURCE, with "-modified" when tracked files differ from
# it, else "unknown". Run at every build; the header is rewritten only when
# the commit changes, so a build of the same commit gives the same bytes.
# Usage: cmake -D SOURCE=<top of the tree> -D OUTPUT=<header> -P source-commit.cmake
file(STRINGS "${SOURCE}/cmake/source-commit.txt" commit LIMIT_COUNT 1)
if(NOT commit MATCHES "^[0-9a-f]+$")
  set(commit unknown)
  find_package(Git QUIET)
  if(GIT_FOUND)
    # Only a repository whose top is this tree, not one it merely sits in.
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel HEAD
      WORKING_DIRECTORY "${SOURCE}" OUTPUT_VARIABLE answer
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    string(REPLACE "\n" ";" answer "${answer}")
    list(LENGTH answer parts)
    if(NOT failed AND parts EQUAL 2)
      list(GET answer 0 top)
      list(GET answer 1 head)
      file(REAL_PATH "${top}" top)
      file(REAL_PATH "${SOURCE}" source)
      if(top STREQUAL source)
        set(commit "${head}")
        execute_process(COMMAND "${GIT_EXECUTABLE}" status --porcelain --untracked-files=no
          WORKING_DIRECTORY "${SOURCE}" OUTPUT_VARIABLE changed ERROR_QUIET)
        if(NOT changed STREQUAL "")
          string(APPEND commit "-modified")
        endif()
      endif()
    endif()
  endif()
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "#define COURIER_PACK_COMMIT \"${commit}\"\n")
