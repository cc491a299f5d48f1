# find_package(BriskCourier CONFIG) for an installed Brisk Courier. Gives
#   BriskCourier::courier-pack  the packing tool, an imported executable
#   BRISK_COURIER_LAUNCHER      the launcher it puts in front of an archive
#   BRISK_COURIER_HAS_DEPFILE   whether courier-pack writes dependency files
#   brisk_courier_add_carrier(<target> OUTPUT <file.exe> LAUNCH <name>
#       FILES <file, folder or file=name>... [FILES_FROM <list>]
#       [DEPENDS <target>...] [GREEDY]
#       [ICON <file.ico>] [FILE_VERSION <A.B.C.D>] [PRODUCT_VERSION <A.B.C.D>]
#       [VERSION_STRINGS <KEY=VALUE>...]
#       [EXECUTION_LEVEL asInvoker|highestAvailable|requireAdministrator]
#       [MANIFEST <file.xml>] [MIN_WINDOWS 7sp1|10.1607]
#       [ACCEPT_DLLS <dll>...] [STRICT])
# Paths are taken from this file's own place in the tree, so a tree unpacked
# anywhere works. The tool runs on the build machine, so a cross build (say,
# a Windows setup program made with mingw-w64) can use it too.

get_filename_component(_brisk_courier_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(BRISK_COURIER_LAUNCHER "${_brisk_courier_prefix}/share/brisk-courier/launcher.exe")
foreach(_brisk_courier_file bin/courier-pack share/brisk-courier/launcher.exe)
  if(NOT EXISTS "${_brisk_courier_prefix}/${_brisk_courier_file}")
    set(BriskCourier_FOUND FALSE)
    set(BriskCourier_NOT_FOUND_MESSAGE
      "${_brisk_courier_prefix}/${_brisk_courier_file} is missing: the install is incomplete")
    return()
  endif()
endforeach()

if(NOT TARGET BriskCourier::courier-pack)
  add_executable(BriskCourier::courier-pack IMPORTED)
  set_target_properties(BriskCourier::courier-pack PROPERTIES
    IMPORTED_LOCATION "${_brisk_courier_prefix}/bin/courier-pack")
endif()

# ON: this courier-pack writes a dependency file (pack --depfile), which
# lists every file a pack read, so a file changed, added or removed inside a
# folder given in FILES, or named by FILES_FROM, re-packs the carrier (with
# CMake 3.20 or later). Without it a folder re-packs only when the folder
# itself changes (a file added or removed), not when a file in it is edited.
set(BRISK_COURIER_HAS_DEPFILE ON)

# A target, built by default, that packs FILES (files and folders; generator
# expressions such as $<TARGET_FILE:setup> allowed; relative paths from the
# calling source folder; PATH=NAME packs the file PATH as the entry NAME)
# and the inputs the file FILES_FROM lists (pack --files-from: one a line,
# relative paths from the calling source folder too) into OUTPUT (relative: from the calling build
# folder) with LAUNCH as the file the launcher opens, and checks the result
# with courier-pack verify. The other keywords are pack's options of the
# same names (ICON is --icon, VERSION_STRINGS one --version-string each,
# GREEDY --greedy, MIN_WINDOWS --min-windows, ACCEPT_DLLS one --accept-dll
# each, given to verify too). pack prints each warning and verify, quiet,
# only fails: once per build. STRICT makes verify --strict, so a warning
# not accepted by name fails the build. It re-packs when an input, the
# tool or the launcher changes. DEPENDS names targets that make some of the
# FILES. The previous carrier is removed first and the new one written
# under a temporary name, renamed only once it verifies, so a failed step
# leaves no carrier for a later build to take as current. Mistakes in the
# call stop CMake's configure step, naming what is wrong; so does a LAUNCH
# that names no entry, where FILES are plain paths that exist (no
# FILES_FROM).
#
# Policies recorded with the function: Ninja reads the dependency file's
# paths as Makefiles do, from the build folder (CMP0116).
cmake_policy(PUSH)
if(POLICY CMP0116)
  cmake_policy(SET CMP0116 NEW)
endif()
# Appends to the list OUT_ENTRIES the entry names one FILES word gives
# (NAME when it is PATH=NAME, the file's name, or a folder's regular
# files), or sets OUT_KNOWN to FALSE when they cannot be told at configure time: a
# generator expression, or a path the build makes or fills.
function(_brisk_courier_entry_names file name out_entries out_known)
  get_filename_component(path "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  string(FIND "${path}/" "${CMAKE_BINARY_DIR}/" in_build)
  if(file MATCHES "\\$<" OR NOT EXISTS "${path}" OR in_build EQUAL 0)
    set(${out_known} FALSE PARENT_SCOPE)
  elseif(NOT name STREQUAL "")
    string(SUBSTRING "${name}" 1 -1 name)
    string(REPLACE ";" "$<SEMICOLON>" name "${name}")  # one element, as LAUNCH is compared
    set(${out_entries} ${${out_entries}} "${name}" PARENT_SCOPE)
  elseif(IS_DIRECTORY "${path}")
    file(GLOB names LIST_DIRECTORIES false RELATIVE "${path}" "${path}/*")
    set(${out_entries} ${${out_entries}} ${names} PARENT_SCOPE)
  else()
    get_filename_component(name "${path}" NAME)
    set(${out_entries} ${${out_entries}} "${name}" PARENT_SCOPE)
  endif()
endfunction()

function(brisk_courier_add_carrier target)
  set(flags GREEDY STRICT)
  set(single OUTPUT LAUNCH ICON FILE_VERSION PRODUCT_VERSION EXECUTION_LEVEL MANIFEST FILES_FROM MIN_WINDOWS)
  set(multiple FILES DEPENDS VERSION_STRINGS ACCEPT_DLLS)
  set(keywords ${flags} ${single} ${multiple})
  string(REPLACE ";" ", " keyword_list "${keywords}")
  if(target IN_LIST keywords)
    message(FATAL_ERROR "brisk_courier_add_carrier: the target's name comes first, before "
      "${target}: brisk_courier_add_carrier(<target> OUTPUT <file.exe> LAUNCH <name> FILES ...)")
  endif()
  set(call "brisk_courier_add_carrier(${target})")
  cmake_parse_arguments(PARSE_ARGV 1 arg "${flags}" "${single}" "${multiple}")
  # An unknown keyword lands either among the unparsed arguments or inside
  # the list before it: a word in capitals that names no file is taken for one.
  foreach(word IN LISTS arg_UNPARSED_ARGUMENTS)
    if(word MATCHES "^[A-Z][A-Z0-9_]*$")
      message(FATAL_ERROR "${call}: unknown keyword ${word} (it knows ${keyword_list})")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${call}: unexpected arguments: ${arg_UNPARSED_ARGUMENTS} "
      "(OUTPUT, LAUNCH, ICON, FILE_VERSION, PRODUCT_VERSION, EXECUTION_LEVEL, MANIFEST, "
      "FILES_FROM and MIN_WINDOWS take one value each)")
  endif()
  foreach(keyword IN LISTS arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${call}: ${keyword} needs a value")
  endforeach()
  foreach(required OUTPUT LAUNCH FILES)
    if(NOT DEFINED arg_${required} AND NOT (required STREQUAL "FILES" AND DEFINED arg_FILES_FROM))
      message(FATAL_ERROR "${call}: ${required} is required")
    endif()
  endforeach()
  if(DEFINED arg_EXECUTION_LEVEL)
    if(DEFINED arg_MANIFEST)
      message(FATAL_ERROR "${call}: EXECUTION_LEVEL and MANIFEST exclude each other "
        "(the level goes in the manifest)")
    endif()
    set(levels asInvoker highestAvailable requireAdministrator)
    if(NOT arg_EXECUTION_LEVEL IN_LIST levels)
      message(FATAL_ERROR "${call}: EXECUTION_LEVEL ${arg_EXECUTION_LEVEL}: "
        "not asInvoker, highestAvailable or requireAdministrator")
    endif()
  endif()
  if(DEFINED arg_MIN_WINDOWS AND NOT arg_MIN_WINDOWS MATCHES "^(7sp1|10\\.1607)$")
    message(FATAL_ERROR "${call}: MIN_WINDOWS ${arg_MIN_WINDOWS}: not 7sp1 or 10.1607")
  endif()
  # A quoted value keeps its ';' here; CMake would split it on the way to
  # the tool. A path holding one could not be named in DEPENDS or OUTPUT,
  # so it is refused; any other value reaches pack whole ($<SEMICOLON>).
  if(arg_OUTPUT MATCHES ";")
    message(FATAL_ERROR "${call}: OUTPUT ${arg_OUTPUT}: a path holding ';' cannot be a build's output")
  endif()
  foreach(pair IN LISTS arg_VERSION_STRINGS)
    if(pair MATCHES "^[A-Z][A-Z0-9_]*$")
      message(FATAL_ERROR "${call}: unknown keyword ${pair} (it knows ${keyword_list})")
    elseif(NOT pair MATCHES "^[^=]+=")
      message(FATAL_ERROR "${call}: VERSION_STRINGS takes KEY=VALUE, not '${pair}'")
    endif()
  endforeach()

  # Inputs as absolute paths. A plain path (no generator expression) must
  # exist now unless the build makes it (inside the build tree, or marked
  # GENERATED). In FILES, PATH=NAME is split as the tool splits it: a path
  # that exists as it is is taken whole, else the last '=' splits; the
  # build depends on PATH.
  set(inputs)
  # The entries' names, while every input is a plain path that exists now;
  # LAUNCH is checked against them below.
  set(entries)
  set(entries_known TRUE)
  if(DEFINED arg_FILES_FROM)
    set(entries_known FALSE)
  endif()
  foreach(keyword FILES ICON MANIFEST FILES_FROM)
    set(${keyword})
    # A single value is a string, which the loop below would split.
    if(NOT keyword STREQUAL "FILES" AND arg_${keyword} MATCHES ";")
      message(FATAL_ERROR "${call}: ${keyword} ${arg_${keyword}}: a path holding ';' cannot be a "
        "build's dependency (CMake reads ';' as a list's separator)")
    endif()
    foreach(file IN LISTS arg_${keyword})
      set(name)
      if(keyword STREQUAL "FILES" AND file MATCHES "^(.+)(=[^=<>/\\]+)$")
        set(before "${CMAKE_MATCH_1}")
        set(after "${CMAKE_MATCH_2}")
        get_filename_component(path "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        if(file MATCHES "\\$<" OR NOT EXISTS "${path}")
          set(file "${before}")
          set(name "${after}")
        endif()
      endif()
      if(file MATCHES ";")
        message(FATAL_ERROR "${call}: ${keyword} ${file}: a path holding ';' cannot be a "
          "build's dependency (CMake reads ';' as a list's separator); give list elements unquoted")
      endif()
      if(keyword STREQUAL "FILES")
        _brisk_courier_entry_names("${file}" "${name}" entries entries_known)
      endif()
      if(NOT file MATCHES "^\\$<")
        get_filename_component(path "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        get_source_file_property(generated "${path}" GENERATED)
        string(FIND "${path}/" "${CMAKE_BINARY_DIR}/" in_build)
        if(NOT EXISTS "${path}" AND NOT generated AND NOT in_build EQUAL 0
           AND NOT file MATCHES "\\$<")
          if(file MATCHES "^[A-Z][A-Z0-9_]*$")
            message(FATAL_ERROR "${call}: unknown keyword ${file} (it knows ${keyword_list}), "
              "or a missing file ${path}")
          endif()
          message(FATAL_ERROR "${call}: ${keyword} ${file}: no such file or folder (${path})")
        endif()
        set(file "${path}")
      endif()
      list(APPEND inputs "${file}")
      string(REPLACE ";" "$<SEMICOLON>" name "${name}")
      list(APPEND ${keyword} "${file}${name}")
    endforeach()
  endforeach()

  # Windows' letter case, as pack compares; '' opens the folder.
  if(entries_known AND NOT arg_LAUNCH STREQUAL "")
    string(REPLACE ";" "$<SEMICOLON>" launch "${arg_LAUNCH}")
    string(TOLOWER "${launch}" launch)
    string(TOLOWER "${entries}" lower_entries)
    if(NOT launch IN_LIST lower_entries)
      list(SORT entries)
      string(REPLACE ";" ", " entry_list "${entries}")
      message(FATAL_ERROR "${call}: LAUNCH ${arg_LAUNCH}: no entry of FILES has that name "
        "(they are ${entry_list})")
    endif()
  endif()

  set(options)
  if(arg_GREEDY)
    list(APPEND options --greedy)
  endif()
  if(DEFINED ICON)
    list(APPEND options --icon "${ICON}")
  endif()
  if(DEFINED MANIFEST)
    list(APPEND options --manifest "${MANIFEST}")
  endif()
  if(DEFINED FILES_FROM)
    list(APPEND options --files-from "${FILES_FROM}")
  endif()
  foreach(keyword FILE_VERSION PRODUCT_VERSION EXECUTION_LEVEL)
    if(DEFINED arg_${keyword})
      string(TOLOWER "--${keyword}" option)
      string(REPLACE "_" "-" option "${option}")
      string(REPLACE ";" "$<SEMICOLON>" value "${arg_${keyword}}")
      list(APPEND options ${option} "${value}")
    endif()
  endforeach()
  foreach(pair IN LISTS arg_VERSION_STRINGS)
    string(REPLACE ";" "$<SEMICOLON>" pair "${pair}")
    list(APPEND options --version-string "${pair}")
  endforeach()
  # What both pack and verify take, so they judge the launch program's DLLs alike.
  set(dll_options)
  if(DEFINED arg_MIN_WINDOWS)
    list(APPEND dll_options --min-windows "${arg_MIN_WINDOWS}")
  endif()
  foreach(dll IN LISTS arg_ACCEPT_DLLS)
    list(APPEND dll_options --accept-dll "${dll}")
  endforeach()
  set(verify_options -q)
  if(arg_STRICT)
    list(APPEND verify_options --strict)
  endif()

  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(launcher "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../../share/brisk-courier/launcher.exe" ABSOLUTE)
  # The tool's dependency file names the file it wrote, OUTPUT.part; the
  # build knows the carrier as OUTPUT, so the renamed copy names that.
  set(depfile)
  set(rename_depfile)
  if(BRISK_COURIER_HAS_DEPFILE AND CMAKE_VERSION VERSION_GREATER_EQUAL 3.20)
    list(APPEND options --depfile "${output}.part.d")
    set(depfile DEPFILE "${output}.d")
    set(rename_depfile COMMAND "${CMAKE_COMMAND}" -D "FROM=${output}.part.d"
      -D "TO=${output}.d" -D "GENERATOR=${CMAKE_GENERATOR}")
    # Makefile generators (CMake 3.25 at least) add each new dependency file
    # to the dependencies they keep, so a file removed from a folder stays
    # listed and re-packs the carrier on every build; their store for this
    # target is dropped, to be read again from the new file.
    if(CMAKE_GENERATOR MATCHES "Makefiles")
      list(APPEND rename_depfile
        -D "STALE=${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir/compiler_depend.internal")
    endif()
    list(APPEND rename_depfile -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/BriskCourierDepfile.cmake")
  endif()

  # The previous carrier goes first: a failed pack then leaves none for a
  # later step (an upload of build/*.exe) to take as current, whatever the
  # generator does with an output whose command failed.
  add_custom_command(OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${output}"
    COMMAND BriskCourier::courier-pack pack -o "${output}.part" --launch "${arg_LAUNCH}"
            --stub "${launcher}" ${options} ${dll_options} ${FILES}
    COMMAND BriskCourier::courier-pack verify ${verify_options} ${dll_options} "${output}.part"
    ${rename_depfile}
    COMMAND "${CMAKE_COMMAND}" -E rename "${output}.part" "${output}"
    DEPENDS ${inputs} ${arg_DEPENDS} "$<TARGET_FILE:BriskCourier::courier-pack>" "${launcher}"
    ${depfile}
    # Relative paths in FILES_FROM's list are from the source folder; all
    # else is absolute.
    WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
    COMMENT "Packing ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
endfunction()
cmake_policy(POP)
