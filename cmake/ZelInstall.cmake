include(CMakePackageConfigHelpers)

set(ZEL_INCLUDE_ROOT ${CMAKE_INSTALL_INCLUDEDIR}/zel_gateway_client)
install(TARGETS zel_gateway_client EXPORT ZelGatewayClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/zel_gateway_client.h DESTINATION ${ZEL_INCLUDE_ROOT})
foreach(dir common protocol client pipeline)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/ DESTINATION ${ZEL_INCLUDE_ROOT}/${dir}
    FILES_MATCHING PATTERN "*.h" PATTERN "test_seam.h" EXCLUDE)
endforeach()
install(DIRECTORY ${PROJECT_BINARY_DIR}/model/ DESTINATION ${ZEL_INCLUDE_ROOT}/model
  FILES_MATCHING PATTERN "*.pb.h")
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
