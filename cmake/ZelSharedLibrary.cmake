# The one shared library a host program loads: every layer's objects.
set(_zel_objects "")
foreach(layer ${ZEL_LAYERS})
  list(APPEND _zel_objects $<TARGET_OBJECTS:zel_${layer}_obj>)
endforeach()
add_library(zel_gateway_client SHARED ${_zel_objects} ${PROJECT_SOURCE_DIR}/zel_gateway_client.h)
add_library(ZelGatewayClient::zel_gateway_client ALIAS zel_gateway_client)
target_link_libraries(zel_gateway_client
  PUBLIC protobuf::libprotobuf Threads::Threads
  PRIVATE PkgConfig::LIBEVENT PkgConfig::LZ4 OpenSSL::SSL OpenSSL::Crypto)
target_include_directories(zel_gateway_client PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/model>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zel_gateway_client>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zel_gateway_client/model>)
target_include_directories(zel_gateway_client SYSTEM PUBLIC
  $<BUILD_INTERFACE:${READERWRITERQUEUE_INCLUDE_DIR}>)

set_target_properties(zel_gateway_client PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# Every symbol must resolve at link time, except under sanitizers whose
# runtime the executable brings.
if(NOT ZEL_SANITIZE)
  target_link_options(zel_gateway_client PRIVATE "-Wl,--no-undefined")
endif()
