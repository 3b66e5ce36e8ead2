# zef_add_assets(<name> <input>... [PACK_OPTIONS <option>...] [EMBED_OPTIONS <option>...])
#
# Packs image files and folders into an archive with the host's `zef` and
# builds it into the static library <name>, compiled by the project's own
# compiler. The library's header <name>.h declares
#   const uint8_t <name>[];  const size_t <name>_size;  <NAME>_SIZE
# and the image numbers <NAME>_<IMAGE> (`zef pack --header`). Linking the
# library also brings the device decoder's header; the decoder itself is
# compiled into the library.
#
# PACK_OPTIONS go to `zef pack` (say --alpha 4 or --colors 64), EMBED_OPTIONS
# to `zef embed` (say --align 32 --section .rodata.assets); the function sets
# the outputs, the header and the symbol itself.
#
# A folder is read again at every build, so a file added to or removed from
# it repacks the archive, as does a change to any input.

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

  add_custom_command(
    OUTPUT "${out}/${name}.zef" "${out}/${name}_images.h"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" pack ${inputs} -o "${out}/${name}.zef" --header "${out}/${name}_images.h"
            ${_zef_PACK_OPTIONS}
    DEPENDS ${files} "${out}/inputs.txt" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Packing the images of ${name}"
    VERBATIM)
  add_custom_command(
    OUTPUT "${out}/${name}.c" "${out}/${name}_data.h"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" embed -o "${out}/${name}.c" --header "${out}/${name}_data.h"
            --symbol ${name} ${_zef_EMBED_OPTIONS} "${out}/${name}.zef"
    DEPENDS "${out}/${name}.zef" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Embedding ${name}.zef"
    VERBATIM)
  file(CONFIGURE OUTPUT "${out}/${name}.h" CONTENT
"/* The archive ${name} and its image numbers, made by zef_add_assets. */
#ifndef ZEF_ASSETS_${name}_H
#define ZEF_ASSETS_${name}_H
#include \"${name}_data.h\"
#include \"${name}_images.h\"
#endif
" @ONLY)

  add_library(${name} STATIC "${out}/${name}.c" "${out}/${name}.h" "${out}/${name}_data.h"
                             "${out}/${name}_images.h")
  target_include_directories(${name} PUBLIC "${out}")
  # The decoder's sources are compiled here, once; programs that link the
  # library get its header only.
  target_link_libraries(${name} PRIVATE ZefiConvert::zefdec)
  target_include_directories(${name} PUBLIC
    "$<TARGET_PROPERTY:ZefiConvert::zefdec,INTERFACE_INCLUDE_DIRECTORIES>")
endfunction()
