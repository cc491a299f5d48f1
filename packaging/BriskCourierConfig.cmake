# find_package(BriskCourier CONFIG) for an installed Brisk Courier. Gives
#   BriskCourier::courier-pack  the packing tool, an imported executable
#   BRISK_COURIER_LAUNCHER      the launcher it puts in front of an archive
#   brisk_courier_add_carrier(<target> OUTPUT <file.exe> LAUNCH <name>
#                             FILES <file>... [DEPENDS <target>...])
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

# A target, built by default, that packs FILES (generator expressions such as
# $<TARGET_FILE:setup> allowed; relative paths from the calling source folder)
# into OUTPUT (relative: from the calling build folder) with LAUNCH as the
# file the launcher opens, and checks the result with courier-pack verify.
# It re-packs when a file, the tool or the launcher changes. DEPENDS names
# targets that make some of the FILES. The carrier is written under a
# temporary name and renamed only once it verifies, so a failed step leaves
# no carrier for a later build to take as current.
function(brisk_courier_add_carrier target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT;LAUNCH" "FILES;DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "brisk_courier_add_carrier: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required OUTPUT LAUNCH FILES)
    if(NOT arg_${required})
      message(FATAL_ERROR "brisk_courier_add_carrier(${target}): ${required} is required")
    endif()
  endforeach()
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(files)
  foreach(file IN LISTS arg_FILES)
    if(NOT file MATCHES "^\\$<")
      get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
    list(APPEND files "${file}")
  endforeach()
  get_filename_component(launcher "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../../share/brisk-courier/launcher.exe" ABSOLUTE)

  add_custom_command(OUTPUT "${output}"
    COMMAND BriskCourier::courier-pack pack -o "${output}.part" --launch "${arg_LAUNCH}"
            --stub "${launcher}" ${files}
    COMMAND BriskCourier::courier-pack verify "${output}.part"
    COMMAND "${CMAKE_COMMAND}" -E rename "${output}.part" "${output}"
    DEPENDS ${files} ${arg_DEPENDS} "$<TARGET_FILE:BriskCourier::courier-pack>" "${launcher}"
    COMMENT "Packing ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
endfunction()
