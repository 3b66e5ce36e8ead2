# zef_add_assets(<name> <input>... [PACK_OPTIONS <option>...] [EMBED_OPTIONS <option>...])
#
# Packs image files and folders into an archive with the host's `zef` and
# builds it into the static library <name>, compiled by the project's own
# compiler. The library's header <name>.h includes zefdec.h and declares
#   const uint8_t <name>[];  const size_t <name>_size;  <NAME>_SIZE
# and per image (`zef pack --header`) <NAME>_<IMAGE>, the position that
# zefdec_draw takes, <NAME>_<IMAGE>_NUMBER, _WIDTH and _HEIGHT. Linking the
# library links the device decoder too, which the package builds once per
# project (ZefiConvert::zefdec), and its read window ZEFDEC_WINDOW_SIZE.
#
# PACK_OPTIONS go to `zef pack` (say --alpha 4 or --colors 64), EMBED_OPTIONS
# to `zef embed` (say --align 32 --section .rodata.assets); the step names
# the outputs, the headers, the symbol and the format itself, and refuses
# options that would change them.
#
# A folder is read again at every build, so a file added to or removed from
# it repacks the archive, as does a change to any input. The headers are
# replaced only when their text changes, so that a new picture recompiles
# the array, not every file that includes the header.

function(zef_add_assets name)
  cmake_parse_arguments(PARSE_ARGV 1 _zef "" "" "PACK_OPTIONS;EMBED_OPTIONS")
  if(NOT _zef_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zef_add_assets(${name}): give image files or folders")
  endif()
  if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(FATAL_ERROR "zef_add_assets(${name}): the name is also the C array's: use letters, digits and '_'")
  endif()
  if(NOT TARGET ZefiConvert::zef)
    message(FATAL_ERROR "zef_add_assets(${name}): ZefiConvert::zef is missing: install ZefiConvert's tool "
                        "component and ask find_package(ZefiConvert) for the zef component")
  endif()
  if(NOT TARGET ZefiConvert::zefdec)
    message(FATAL_ERROR "zef_add_assets(${name}): ask find_package(ZefiConvert) for the zefdec component")
  endif()
  _zef_refuse_options(${name} PACK_OPTIONS "-o|--output|--header" ${_zef_PACK_OPTIONS})
  _zef_refuse_options(${name} EMBED_OPTIONS "-o|--output|--header|--symbol|--format" ${_zef_EMBED_OPTIONS})

  set(out ${CMAKE_CURRENT_BINARY_DIR}/zef_assets/${name})
  set(inputs)
  set(files)
  foreach(input IN LISTS _zef_UNPARSED_ARGUMENTS)
    get_filename_component(input "${input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND inputs "${input}")
    if(IS_DIRECTORY "${input}")
      # Checked again at every build: a new file reruns the configuration.
      file(GLOB found LIST_DIRECTORIES false CONFIGURE_DEPENDS "${input}/*")
    else()
      # The image and a mask beside it, also one that appears later.
      get_filename_component(folder "${input}" DIRECTORY)
      get_filename_component(stem "${input}" NAME_WLE)
      get_filename_component(extension "${input}" LAST_EXT)
      file(GLOB found LIST_DIRECTORIES false CONFIGURE_DEPENDS "${folder}/${stem}*${extension}")
      list(APPEND found "${input}")
    endif()
    list(APPEND files ${found})
  endforeach()
  list(REMOVE_DUPLICATES files)
  list(SORT files)

  # The list of input files is itself an input: a file that was removed
  # changes it, which repacks although no remaining file is newer.
  string(JOIN "\n" listing ${files})
  file(CONFIGURE OUTPUT "${out}/inputs.txt" CONTENT "${listing}\n" @ONLY)

  # The headers are written beside and copied over only when they differ:
  # the commands' outputs are the archive and the array, which change with
  # any picture, the headers are their by-products.
  set(staged "${out}/staged")
  add_custom_command(
    OUTPUT "${out}/${name}.zef"
    BYPRODUCTS "${out}/${name}_images.h"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${staged}"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" pack ${inputs} -o "${out}/${name}.zef"
            --header "${staged}/${name}_images.h" ${_zef_PACK_OPTIONS}
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${staged}/${name}_images.h" "${out}/${name}_images.h"
    DEPENDS ${files} "${out}/inputs.txt" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Packing the images of ${name}"
    VERBATIM)
  add_custom_command(
    OUTPUT "${out}/${name}.c"
    BYPRODUCTS "${out}/${name}_data.h"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${staged}"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" embed -o "${out}/${name}.c" --header "${staged}/${name}_data.h"
            --symbol ${name} ${_zef_EMBED_OPTIONS} "${out}/${name}.zef"
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${staged}/${name}_data.h" "${out}/${name}_data.h"
    DEPENDS "${out}/${name}.zef" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Embedding ${name}.zef"
    VERBATIM)
  file(CONFIGURE OUTPUT "${out}/${name}.h" CONTENT
"/* The archive ${name}, its images and the decoder, made by zef_add_assets. */
#ifndef ZEF_ASSETS_${name}_H
#define ZEF_ASSETS_${name}_H
#include \"zefdec.h\"
#include \"${name}_data.h\"
#include \"${name}_images.h\"
#endif
" @ONLY)

  add_library(${name} STATIC "${out}/${name}.c" "${out}/${name}.h" "${out}/${name}_data.h"
                             "${out}/${name}_images.h")
  target_include_directories(${name} PUBLIC "${out}")
  # The decoder is the package's one target: every asset library and the
  # program link the same copy.
  target_link_libraries(${name} PUBLIC ZefiConvert::zefdec)
endfunction()

# Options that would change what the step names and expects (its output
# files, symbol or format) are refused, with their names, rather than
# passed on to break the build later.
function(_zef_refuse_options name kind pattern)
  set(refused)
  foreach(option IN LISTS ARGN)
    if(option MATCHES "^(${pattern})(=.*)?$" OR (option MATCHES "^-o." AND pattern MATCHES "-o"))
      list(APPEND refused "${option}")
    endif()
  endforeach()
  if(refused)
    string(JOIN " " refused ${refused})
    message(FATAL_ERROR "zef_add_assets(${name}): ${kind} ${refused}: zef_add_assets sets the "
                        "outputs, headers, symbol and format itself")
  endif()
endfunction()
