# cmake --install: the module (component runtime), the host program as
# `quorvane` (host), and for building against the module its header, a CMake
# package (find_package(Quorvane2) gives Quorvane2::Quorvane2) and a
# pkg-config file (dev). CPack makes a Debian package of each component.
include(CMakePackageConfigHelpers)

install(TARGETS Quorvane2 EXPORT Quorvane2Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(TARGETS quorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)
install(FILES include/Quorvane2.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(QUORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvane2)
install(EXPORT Quorvane2Targets NAMESPACE Quorvane2:: DESTINATION ${QUORVANE_CMAKE_DIR}
  COMPONENT dev)
configure_package_config_file(cmake/Quorvane2Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2Config.cmake
  INSTALL_DESTINATION ${QUORVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Quorvane2ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2ConfigVersion.cmake
        DESTINATION ${QUORVANE_CMAKE_DIR} COMPONENT dev)

# Relocatable: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH QUORVANE_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/quorvane2.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quorvane2.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvane2.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

if(NOT WIN32)
  # Debian packages: libquorvane2-0 (the module; its dependencies, libssl3
  # among them, found by dpkg-shlibdeps), libquorvane2-dev and quorvane (the
  # host program, which loads the module at run time).
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME quorvane2)
  set(CPACK_PACKAGE_VENDOR "Quorvane2")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "One FTP (and FTPS) session per process behind a flat set of exported functions")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime dev host)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane2 developers <quorvane2@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquorvane2-${PROJECT_VERSION_MAJOR})
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquorvane2-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_HOST_PACKAGE_NAME quorvane)
  set(CPACK_DEBIAN_HOST_PACKAGE_SECTION net)
  include(CPack)
  cpack_add_component(runtime DISPLAY_NAME "Quorvane2 module")
  cpack_add_component(dev DISPLAY_NAME "Quorvane2 development files" DEPENDS runtime)
  cpack_add_component(host DISPLAY_NAME "quorvane host program" DEPENDS runtime)
endif()
