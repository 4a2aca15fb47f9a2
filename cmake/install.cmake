# cmake --install: the module, its header, a CMake package
# (find_package(Quorvane2) gives Quorvane2::Quorvane2) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS Quorvane2 EXPORT Quorvane2Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/Quorvane2.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(QUORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvane2)
install(EXPORT Quorvane2Targets NAMESPACE Quorvane2:: DESTINATION ${QUORVANE_CMAKE_DIR})
configure_package_config_file(cmake/Quorvane2Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2Config.cmake
  INSTALL_DESTINATION ${QUORVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Quorvane2ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2Config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/Quorvane2ConfigVersion.cmake
        DESTINATION ${QUORVANE_CMAKE_DIR})

# Relocatable: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH QUORVANE_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/quorvane2.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quorvane2.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvane2.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
