# zel_layer(NAME SOURCES... [DEPS targets...])
# Builds object library zel_<NAME>_obj and static archive zel_<NAME> from the
# same objects. The archive carries the usage requirements (include dirs,
# system libraries, lower layers) so tests and tools link just what they use.
set(ZEL_LAYERS "" CACHE INTERNAL "")
function(zel_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A layer with nothing in it yet still carries its usage requirements.
    add_library(zel_${name} INTERFACE)
    target_link_libraries(zel_${name} INTERFACE ${ARG_DEPS})
    target_include_directories(zel_${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/model)
    return()
  endif()
  add_library(zel_${name}_obj OBJECT ${ARG_SOURCES})
  target_include_directories(zel_${name}_obj PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/model>)
  target_link_libraries(zel_${name}_obj PUBLIC ${ARG_DEPS})
  set_target_properties(zel_${name}_obj PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(zel_${name}_obj PRIVATE ZEL_BUILDING_LIBRARY=1)
  add_library(zel_${name} STATIC $<TARGET_OBJECTS:zel_${name}_obj>)
  target_link_libraries(zel_${name} PUBLIC ${ARG_DEPS})
  target_include_directories(zel_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/model>)
  set(ZEL_LAYERS ${ZEL_LAYERS} ${name} CACHE INTERNAL "")
endfunction()

# Globs the folder's sources; new files are picked up at the next build.
macro(zel_glob_sources var)
  file(GLOB ${var} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
endmacro()
