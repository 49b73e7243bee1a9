# One test per layer: its include path reaches a header of its own layer and
# of each lower one, and no header of a higher layer.
set(_zel_probe_headers
  common/log_interface.h
  protocol/frame_cutter.h
  pipeline/message_handle.h
  client/client_factory.h)
list(LENGTH ZEL_LAYER_ORDER _zel_layer_count)
math(EXPR _zel_last "${_zel_layer_count} - 1")
foreach(index RANGE 0 ${_zel_last})
  list(GET ZEL_LAYER_ORDER ${index} layer)
  set(reachable "")
  set(unreachable "")
  foreach(other RANGE 0 ${_zel_last})
    list(GET _zel_probe_headers ${other} header)
    if(other GREATER index)
      list(APPEND unreachable ${header})
    else()
      list(APPEND reachable ${header})
    endif()
  endforeach()
  string(REPLACE ";" "|" reachable "${reachable}")
  string(REPLACE ";" "|" unreachable "${unreachable}")
  set(dirs_file ${PROJECT_BINARY_DIR}/layer_checks/${layer}.dirs)
  file(GENERATE OUTPUT ${dirs_file} CONTENT "$<TARGET_PROPERTY:zel_${layer},INCLUDE_DIRECTORIES>")
  add_test(NAME layers.${layer}_reaches_only_down
    COMMAND ${CMAKE_COMMAND} -DCOMPILER=${CMAKE_CXX_COMPILER} -DDIRS_FILE=${dirs_file}
            -DWORK=${PROJECT_BINARY_DIR}/layer_checks/${layer} -DREACHABLE=${reachable}
            -DUNREACHABLE=${unreachable} -P ${PROJECT_SOURCE_DIR}/cmake/ZelLayerProbe.cmake)
endforeach()
