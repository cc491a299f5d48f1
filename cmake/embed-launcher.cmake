# Writes the source that gives courier-pack the bytes of the launcher it is
# built with, so list and verify can tell that launcher from a changed one.
#   cmake -DLAUNCHER=<launcher.exe> -DOUTPUT=<source.cpp> -DCOPY=<file> -P embed-launcher.cmake
# Without a file at LAUNCHER the source gives none, and the tool says it
# cannot tell. COPY gets the bytes embedded (removed when there are none),
# for the tests. Both are rewritten only when their content changes, so an
# unchanged launcher rebuilds nothing; the source holds no path or time.
set(hex "")
if(EXISTS "${LAUNCHER}" AND NOT IS_DIRECTORY "${LAUNCHER}")
  file(READ "${LAUNCHER}" hex HEX)
endif()
if(NOT hex STREQUAL "")
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line.
  string(REPEAT "[0-9a-f]" 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(body "namespace {
const uint8_t kBytes[${size}] = {
${bytes}};
}  // namespace

std::pair<const uint8_t*, size_t> release_launcher() { return {kBytes, sizeof kBytes}; }
")
  configure_file("${LAUNCHER}" "${COPY}" COPYONLY)
else()
  set(body "std::pair<const uint8_t*, size_t> release_launcher() { return {nullptr, 0}; }\n")
  file(REMOVE "${COPY}")
endif()

file(WRITE "${OUTPUT}.new" "// Written by cmake/embed-launcher.cmake at build time.
#include \"tools/identity/release_launcher.h\"

${body}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
