# zef_add_assets(<name> <input>... [LVGL <lvgl-target>] [PACK_OPTIONS <option>...]
#                [EMBED_OPTIONS <option>...])
#
# Packs image files and folders into an archive with the host's `zef` and
# builds it into the static library <name>, compiled by the project's own
# compiler. The library's header <name>.h includes zefdec.h and declares
#   const uint8_t <name>[];  const size_t <name>_size;  <NAME>_SIZE (= <name>_size)
# and per image (`zef pack --header`) <NAME>_<IMAGE>, the position that
# zefdec_draw takes, <NAME>_<IMAGE>_NUMBER, _WIDTH and _HEIGHT. Linking the
# library links the device decoder too, which the package builds once per
# project (ZefiConvert::zefdec), and its read window ZEFDEC_WINDOW_SIZE.
#
# With LVGL, the library also defines one lv_image_dsc_t per image under
# the lower-case name of its position macro (`ui_home` for UI_HOME, the
# header declares them) for lv_image_set_src, and links lv_zef, the image
# decoder that draws them (call lv_zef_init() after lv_init()), built once
# per project against <lvgl-target>, the project's LVGL library.
#
# PACK_OPTIONS go to `zef pack` (say --alpha 4 or --colors 64), EMBED_OPTIONS
# to `zef embed` (say --align 32 --section .rodata.assets); the step names
# the outputs, the headers, the symbol and the format itself, and refuses
# options that would change them. <name> must be a name `zef embed
# --symbol` takes, and not the decoder's (zefdec, zefdec_...).
#
# A folder is read again at every build, so a file added to or removed from
# it repacks the archive, as does a change to any input. The archive's size
# is a constant defined beside the array, and the image header is replaced
# only when its text changes, so that new pixels recompile the array, not
# every file that includes the header. The step's own guards hold lower
# case letters, which no image name does.

function(zef_add_assets name)
  cmake_parse_arguments(PARSE_ARGV 1 _zef "" "LVGL" "PACK_OPTIONS;EMBED_OPTIONS")
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
  string(TOLOWER "${name}" lower)
  if(lower MATCHES "^zefdec(_|$)")
    message(FATAL_ERROR "zef_add_assets(${name}): the name would hide or clash with the decoder's "
                        "zefdec.h and its zefdec_... names: choose another")
  endif()
  _zef_check_symbol(${name})
  _zef_refuse_options(${name} PACK_OPTIONS "-o|--output|--header" ${_zef_PACK_OPTIONS})
  _zef_refuse_options(${name} EMBED_OPTIONS "-o|--output|--header|--symbol|--format|--lvgl|--names"
                      ${_zef_EMBED_OPTIONS})
  if(DEFINED _zef_LVGL)
    if(NOT TARGET "${_zef_LVGL}")
      message(FATAL_ERROR "zef_add_assets(${name}): LVGL ${_zef_LVGL} is not a target: give the project's LVGL library")
    endif()
    if(NOT TARGET ZefiConvert::lv_zef)
      # One decoder for the whole project, however many asset libraries
      # link it; built only when something does.
      add_library(ZefiConvert_lv_zef STATIC EXCLUDE_FROM_ALL "${_ZEF_LVGL_DECODER_SOURCE}")
      target_link_libraries(ZefiConvert_lv_zef PUBLIC ZefiConvert::zefdec "${_zef_LVGL}")
      add_library(ZefiConvert::lv_zef ALIAS ZefiConvert_lv_zef)
    endif()
  endif()

  set(out ${CMAKE_CURRENT_BINARY_DIR}/zef_assets/${name})
  set(inputs)
  set(files)
  foreach(input IN LISTS _zef_UNPARSED_ARGUMENTS)
    get_filename_component(input "${input}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND inputs "${input}")
    # Names are patterns to file(GLOB): '[', ']', '*' and '?' in them are
    # taken as themselves.
    string(REGEX REPLACE "([][*?])" "[\\1]" pattern "${input}")
    if(IS_DIRECTORY "${input}")
      # Checked again at every build: a new file reruns the configuration.
      file(GLOB found LIST_DIRECTORIES false CONFIGURE_DEPENDS "${pattern}/*")
    else()
      # The image and a mask beside it, also one that appears later.
      get_filename_component(folder "${pattern}" DIRECTORY)
      get_filename_component(stem "${pattern}" NAME_WLE)
      get_filename_component(extension "${pattern}" LAST_EXT)
      file(GLOB found LIST_DIRECTORIES false CONFIGURE_DEPENDS "${folder}/${stem}*${extension}")
      list(APPEND found "${input}")
    endif()
    list(APPEND files ${found})
  endforeach()
  list(REMOVE_DUPLICATES files)
  list(SORT files)

  # A file name holding ';' comes out of the list in pieces: the pieces
  # after the first are not absolute paths. Joined again, such a file and
  # any other whose name a makefile would not take as it is are tracked
  # through a link to it.
  set(tracked "${out}/tracked")
  file(REMOVE_RECURSE "${tracked}")
  set(depends)
  set(listing)
  set(path)
  list(LENGTH files count)
  set(index 0)
  foreach(piece IN LISTS files ITEMS "/")
    if(index LESS count AND NOT IS_ABSOLUTE "${piece}")
      string(APPEND path ";${piece}")
    else()
      if(NOT "${path}" STREQUAL "")
        string(APPEND listing "${path}\n")
        if(path MATCHES "[^-A-Za-z0-9_./+]")
          file(MAKE_DIRECTORY "${tracked}")
          file(CREATE_LINK "${path}" "${tracked}/${index}" SYMBOLIC)
          list(APPEND depends "${tracked}/${index}")
        else()
          list(APPEND depends "${path}")
        endif()
      endif()
      set(path "${piece}")
    endif()
    math(EXPR index "${index} + 1")
  endforeach()

  # The list of input files is itself an input: a file that was removed
  # changes it, which repacks although no remaining file is newer.
  file(CONFIGURE OUTPUT "${out}/inputs.txt" CONTENT "${listing}" @ONLY)

  # The headers are written beside and copied over only when they differ:
  # the commands' outputs are the archive and the array, which change with
  # any picture, the headers are their by-products.
  set(staged "${out}/staged")
  # With LVGL, zef embed also writes the image descriptors' header, which
  # changes with the images' names only.
  set(lvgl_embed)
  set(lvgl_header)
  set(lvgl_copy)
  set(lvgl_include)
  if(DEFINED _zef_LVGL)
    set(lvgl_header "${out}/${name}_lvgl.h")
    set(lvgl_embed --lvgl --names "${staged}/${name}_images.h" --header "${staged}/${name}_lvgl.h")
    set(lvgl_copy COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${staged}/${name}_lvgl.h" "${lvgl_header}")
    set(lvgl_include "#include \"${name}_lvgl.h\"\n")
  endif()
  add_custom_command(
    OUTPUT "${out}/${name}.zef"
    BYPRODUCTS "${out}/${name}_images.h"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${staged}"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" pack ${inputs} -o "${out}/${name}.zef"
            --header "${staged}/${name}_images.h" ${_zef_PACK_OPTIONS}
    COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${staged}/${name}_images.h" "${out}/${name}_images.h"
    DEPENDS ${depends} "${out}/inputs.txt" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Packing the images of ${name}"
    VERBATIM)
  add_custom_command(
    OUTPUT "${out}/${name}.c"
    BYPRODUCTS ${lvgl_header}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${staged}"
    COMMAND "$<TARGET_FILE:ZefiConvert::zef>" embed -o "${out}/${name}.c" --symbol ${name} ${lvgl_embed}
            ${_zef_EMBED_OPTIONS} "${out}/${name}.zef"
    ${lvgl_copy}
    DEPENDS "${out}/${name}.zef" "$<TARGET_FILE:ZefiConvert::zef>"
    COMMENT "Embedding ${name}.zef"
    VERBATIM)
  # Nothing in these two changes with the pictures: the array's size is
  # the constant ${name}_size beside it.
  string(TOUPPER "${name}" NAME)
  file(CONFIGURE OUTPUT "${out}/${name}_data.h" CONTENT
"/* The array of the archive ${name}, made by zef_add_assets. */
#ifndef zef_assets_${name}_data_h
#define zef_assets_${name}_data_h
#include <stddef.h>
#include <stdint.h>
#ifdef __cplusplus
extern \"C\" {
#endif
extern const uint8_t ${name}[];
extern const size_t ${name}_size;
#ifdef __cplusplus
}
#endif
/* The archive's size in bytes (${name}_size: it changes with the pictures). */
#define ${NAME}_SIZE ${name}_size
#endif
" @ONLY)
  file(CONFIGURE OUTPUT "${out}/${name}.h" CONTENT
"/* The archive ${name}, its images and the decoder, made by zef_add_assets. */
#ifndef zef_assets_${name}_h
#define zef_assets_${name}_h
#include \"zefdec.h\"
#include \"${name}_data.h\"
#include \"${name}_images.h\"
${lvgl_include}#endif
" @ONLY)

  add_library(${name} STATIC "${out}/${name}.c" "${out}/${name}.h" "${out}/${name}_data.h"
                             "${out}/${name}_images.h" ${lvgl_header})
  target_include_directories(${name} PUBLIC "${out}")
  # The decoder is the package's one target: every asset library and the
  # program link the same copy.
  target_link_libraries(${name} PUBLIC ZefiConvert::zefdec)
  if(DEFINED _zef_LVGL)
    target_link_libraries(${name} PUBLIC ZefiConvert::lv_zef)
  endif()
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

# The name is the C array's: one that `zef embed --symbol` refuses (a
# keyword, main, a name C reserves or its standard headers define) is
# refused here with zef's reason, before the build would fail on it.
function(_zef_check_symbol name)
  get_target_property(zef ZefiConvert::zef LOCATION)
  execute_process(COMMAND "${zef}" embed --symbol "${name}" --format bin
                          "${CMAKE_CURRENT_BINARY_DIR}/zef_assets/no such archive"
                  RESULT_VARIABLE code ERROR_VARIABLE why OUTPUT_QUIET)
  if(code EQUAL 2)
    string(REGEX MATCH "--symbol: ([^\n]*)" why "${why}")
    message(FATAL_ERROR "zef_add_assets(${name}): the name is also the C array's, and the array's name "
                        "${CMAKE_MATCH_1}")
  endif()
endfunction()
