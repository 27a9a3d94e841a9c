# Installs the library, its components, the headers and a package configuration so that
# an outside project can find_package(ZoOrbal2) and link ZoOrbal2::ZoOrbal2.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZOORBAL2_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZoOrbal2)

install(TARGETS ZoOrbal2 ZoOrbal2Components EXPORT ZoOrbal2Targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ZoOrbal2)
file(GLOB ZOORBAL2_PUBLIC_HEADERS
  ${CMAKE_CURRENT_SOURCE_DIR}/Sources/ZAZ/ZoOrbal2/*.h
  ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/*.h)
install(FILES ${ZOORBAL2_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ZoOrbal2)
install(EXPORT ZoOrbal2Targets NAMESPACE ZoOrbal2:: DESTINATION ${ZOORBAL2_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/ZoOrbal2Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZoOrbal2Config.cmake
  INSTALL_DESTINATION ${ZOORBAL2_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZoOrbal2ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZoOrbal2Config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ZoOrbal2ConfigVersion.cmake
  DESTINATION ${ZOORBAL2_INSTALL_CMAKEDIR})
