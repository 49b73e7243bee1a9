include(CMakePackageConfigHelpers)

set(ZEL_INCLUDE_ROOT ${CMAKE_INSTALL_INCLUDEDIR}/zel_gateway_client)
install(TARGETS zel_gateway_client EXPORT ZelGatewayClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/zel_gateway_client.h DESTINATION ${ZEL_INCLUDE_ROOT})
# Headers are listed one by one, so that folders holding none (build and
# scratch folders, the generator's CMakeFiles) never appear under include/.
foreach(dir common protocol client pipeline)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/${dir}
    ${PROJECT_SOURCE_DIR}/${dir}/*.h)
  foreach(header ${headers})
    if(header MATCHES "(^|/)test_seam\\.h$")
      continue()
    endif()
    get_filename_component(sub ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${dir}/${header} DESTINATION ${ZEL_INCLUDE_ROOT}/${dir}/${sub})
  endforeach()
endforeach()
set(model_headers)
foreach(proto ${ZEL_PROTOS})
  get_filename_component(name ${proto} NAME_WE)
  list(APPEND model_headers ${PROJECT_BINARY_DIR}/model/${name}.pb.h)
endforeach()
install(FILES ${model_headers} DESTINATION ${ZEL_INCLUDE_ROOT}/model)

# The simulated service (a host's own tests need something to log in to) and
# the sample program come with the package.
foreach(tool zel-sim zel-demo)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${ZEL_PROTOS} DESTINATION ${CMAKE_INSTALL_DATADIR}/zel_gateway_client/proto)

set(ZEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZelGatewayClient)
install(EXPORT ZelGatewayClientTargets NAMESPACE ZelGatewayClient:: DESTINATION ${ZEL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZelGatewayClientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZelGatewayClientConfig.cmake INSTALL_DESTINATION ${ZEL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZelGatewayClientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZelGatewayClientConfig.cmake
  ${PROJECT_BINARY_DIR}/ZelGatewayClientConfigVersion.cmake DESTINATION ${ZEL_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/zel_gateway_client.pc.in
  ${PROJECT_BINARY_DIR}/zel_gateway_client.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zel_gateway_client.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
