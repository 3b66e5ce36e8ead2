# LVGL, found through ZEF_LVGL_DIR (by default ../shared/lvgl beside the
# project), built once inside this build with cmake/lvgl/lv_conf.h for the
# .zef image decoder's tests and benchmark. It is a dependency, never part
# of the project: where it is absent, what needs it is skipped.
set(ZEF_LVGL_DIR "" CACHE PATH "LVGL 9 sources (the folder of lvgl.h); empty: ../shared/lvgl when present")
set(ZEF_LVGL_SOURCE_DIR "${ZEF_LVGL_DIR}")
if(NOT ZEF_LVGL_SOURCE_DIR AND EXISTS "${PROJECT_SOURCE_DIR}/../shared/lvgl/lvgl.h")
  get_filename_component(ZEF_LVGL_SOURCE_DIR "${PROJECT_SOURCE_DIR}/../shared/lvgl" ABSOLUTE)
endif()
if(NOT ZEF_LVGL_SOURCE_DIR OR NOT EXISTS "${ZEF_LVGL_SOURCE_DIR}/lvgl.h")
  message(STATUS "LVGL not found (set ZEF_LVGL_DIR to its sources): the LVGL decoder's tests and benchmark are skipped")
else()
  message(STATUS "LVGL from ${ZEF_LVGL_SOURCE_DIR}")

  set(LV_BUILD_CONF_PATH "${PROJECT_SOURCE_DIR}/cmake/lvgl/lv_conf.h" CACHE PATH "" FORCE)
  # Only the library: no vector renderer, examples or demos.
  set(CONFIG_LV_USE_THORVG_INTERNAL OFF CACHE BOOL "" FORCE)
  set(CONFIG_LV_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
  set(CONFIG_LV_BUILD_DEMOS OFF CACHE BOOL "" FORCE)
  # Built only for what links it; its install rules are never asked for, as
  # the project installs by component.
  # Under ZEF_SANITIZE, LVGL is compiled as it is shipped, without the
  # sanitizers, as a system library would be: they check the project's
  # code (the decoder and the tests, which ASan still watches while LVGL
  # calls them), not LVGL's own.
  get_directory_property(_zef_compile_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory("${ZEF_LVGL_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/lvgl" EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_zef_compile_options}")
  # Its warnings are its own.
  target_compile_options(lvgl PRIVATE -w)
endif()
