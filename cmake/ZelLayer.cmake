# zel_layer(NAME SOURCES... [DEPS targets...])
# Builds object library zel_<NAME>_obj and static archive zel_<NAME> from the
# same objects. The archive carries the usage requirements (include dirs,
# system libraries, lower layers) so tests and tools link just what they use.
#
# Layers point one way: each sees its own folder and the folders below it,
# never one above. Its include root is a folder in the build tree holding
# links to just those folders, so an include of a higher layer's header
# fails to build instead of compiling by accident.
set(ZEL_LAYER_ORDER common protocol pipeline client CACHE INTERNAL "Layer folders, lowest first")
set(ZEL_LAYERS "" CACHE INTERNAL "")

# The include root of a layer; created at configure time.
function(zel_layer_include_root name out)
  set(root ${PROJECT_BINARY_DIR}/layer_roots/${name})
  file(MAKE_DIRECTORY ${root})
  list(FIND ZEL_LAYER_ORDER ${name} index)
  if(index GREATER_EQUAL 0)
    foreach(i RANGE 0 ${index})
      list(GET ZEL_LAYER_ORDER ${i} folder)
      if(NOT EXISTS ${root}/${folder})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
      endif()
    endforeach()
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# Include directories of a layer's target: its root, and the generated
# message classes (not ours to warn about).
function(zel_layer_includes target scope root)
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
  target_include_directories(${target} SYSTEM ${scope} $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/model>)
endfunction()

function(zel_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  zel_layer_include_root(${name} root)
  if(NOT ARG_SOURCES)
    # A layer with nothing in it yet still carries its usage requirements.
    add_library(zel_${name} INTERFACE)
    target_link_libraries(zel_${name} INTERFACE ${ARG_DEPS})
    zel_layer_includes(zel_${name} INTERFACE ${root})
    return()
  endif()
  add_library(zel_${name}_obj OBJECT ${ARG_SOURCES})
  zel_layer_includes(zel_${name}_obj PUBLIC ${root})
  target_link_libraries(zel_${name}_obj PUBLIC ${ARG_DEPS})
  set_target_properties(zel_${name}_obj PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_definitions(zel_${name}_obj PRIVATE ZEL_BUILDING_LIBRARY=1)
  # In CI builds the library's own code keeps signed and unsigned apart;
  # generated code and third-party headers are system headers and stay out.
  if(ZEL_WERROR AND name IN_LIST ZEL_LAYER_ORDER)
    target_compile_options(zel_${name}_obj PRIVATE -Wconversion -Wsign-conversion)
  endif()
  add_library(zel_${name} STATIC $<TARGET_OBJECTS:zel_${name}_obj>)
  target_link_libraries(zel_${name} PUBLIC ${ARG_DEPS})
  zel_layer_includes(zel_${name} PUBLIC ${root})
  set(ZEL_LAYERS ${ZEL_LAYERS} ${name} CACHE INTERNAL "")
endfunction()

# Globs the folder's sources; new files are picked up at the next build.
macro(zel_glob_sources var)
  file(GLOB ${var} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
endmacro()
