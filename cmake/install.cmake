# SPDX-License-Identifier: MIT
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

# The pkg-config file names the prefix the tree is installed under, as
# written at install time (cmake --install --prefix, or /usr in a package):
# pkg-config's own folder may be reached through a link (/lib -> /usr/lib),
# so a prefix relative to it is not one.
install(CODE "
  set(PROJECT_VERSION ${PROJECT_VERSION})
  set(CMAKE_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/quorvane2.pc.in
    \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quorvane2.pc @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quorvane2.pc\")"
  COMPONENT dev)

if(NOT WIN32)
  # What a distribution wants beside the files: a manual page and, in each
  # package's documentation folder, its copyright, changelog (compressed, as
  # Debian policy has them) and the README.
  find_program(QUORVANE_GZIP gzip REQUIRED)
  set(QUORVANE_PACKAGING_DIR ${CMAKE_CURRENT_BINARY_DIR}/packaging)
  foreach(source host/quorvane.1 docs/quorvane2.3 packaging/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${QUORVANE_PACKAGING_DIR}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVANE_PACKAGING_DIR}
      COMMAND ${QUORVANE_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} > ${QUORVANE_PACKAGING_DIR}/${name}.gz
      DEPENDS ${source})
    list(APPEND QUORVANE_PACKAGING_FILES ${QUORVANE_PACKAGING_DIR}/${name}.gz)
  endforeach()
  # The README for the packages: the parts about this source tree left out.
  add_custom_command(OUTPUT ${QUORVANE_PACKAGING_DIR}/README.md
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/README.md
            -DTARGET=${QUORVANE_PACKAGING_DIR}/README.md -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/user_readme.cmake
    DEPENDS README.md cmake/user_readme.cmake)
  list(APPEND QUORVANE_PACKAGING_FILES ${QUORVANE_PACKAGING_DIR}/README.md)
  add_custom_target(quorvane_packaging_files ALL DEPENDS ${QUORVANE_PACKAGING_FILES})
  install(FILES ${QUORVANE_PACKAGING_DIR}/quorvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT host)
  # The library's manual, and a page by the name of each function that
  # leads to it (man FTPFileDownload).
  install(FILES ${QUORVANE_PACKAGING_DIR}/quorvane2.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT dev)
  file(MAKE_DIRECTORY ${QUORVANE_PACKAGING_DIR})
  foreach(function FTPServerLogIn FTPServerLogOut FTPServerFiles FTPFileDownload FTPFileUpload
                   FTPFileDelete FTPFolderCreate FTPFolderDelete FTPFileRename)
    file(CREATE_LINK quorvane2.3.gz ${QUORVANE_PACKAGING_DIR}/${function}.3.gz SYMBOLIC)
    install(FILES ${QUORVANE_PACKAGING_DIR}/${function}.3.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
  endforeach()
  foreach(pair runtime:libquorvane2-${PROJECT_VERSION_MAJOR} dev:libquorvane2-dev host:quorvane)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES packaging/copyright ${QUORVANE_PACKAGING_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
  # Users' documents with the library; the examples with what builds them.
  foreach(pair runtime:libquorvane2-${PROJECT_VERSION_MAJOR} dev:libquorvane2-dev)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${QUORVANE_PACKAGING_DIR}/README.md
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}/docs
            COMPONENT ${component} FILES_MATCHING PATTERN "*.md")
  endforeach()
  install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libquorvane2-dev/examples
          COMPONENT dev PATTERN node_modules EXCLUDE)
  # The library cache is updated by dpkg's ldconfig trigger (CPack's own
  # scripts call ldconfig as well, which lintian only warns about).
  file(WRITE ${QUORVANE_PACKAGING_DIR}/triggers "activate-noawait ldconfig\n")

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
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane2 developers <developers@quorvane2.org>")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  # The 13 exports are fixed: a program built against this version runs with
  # any later one of the same soname.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${QUORVANE_PACKAGING_DIR}/triggers)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "FTP and FTPS client library behind a flat set of exported functions
 Quorvane2 keeps one FTP session per process and works through nine
 exported C functions: log in (plain FTP, explicit or implicit TLS), list a
 remote folder into a text file, download, upload, delete, rename, create
 and remove folders, log out. Every function returns an integer result
 code; a transcript (QUORVANE_TRACE) says why a call failed.")
  set(CPACK_DEBIAN_DEV_DESCRIPTION "Quorvane2 FTP and FTPS client library - development files
 The header Quorvane2.h, the link to the library, a CMake package
 (find_package(Quorvane2)) and a pkg-config file (quorvane2), for building
 hosts of the Quorvane2 module in C or C++.")
  set(CPACK_DEBIAN_HOST_DESCRIPTION "command-line host of the Quorvane2 FTP and FTPS module
 quorvane loads the Quorvane2 module as a device application would and runs
 FTP commands given on its command line: log in, list, get, put, delete,
 rename, create and remove folders, log out, printing each result code and
 why a command failed.")
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
