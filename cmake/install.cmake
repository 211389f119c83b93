# SPDX-License-Identifier: MIT
# Installation and packaging: the commands, the static libraries with their headers, a CMake
# package (find_package(imagelib CONFIG) gives imagelib::imagelib, imagelib::metrics and
# imagelib::noise), a
# pkg-config file, the manual pages, and a Debian package through CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(imagelib_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/imagelib)

install(TARGETS funcao_exe pnm_compare RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/funcao_exe.1 ${PROJECT_SOURCE_DIR}/man/pnm_compare.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS imagelib imagelib_metrics imagelib_noise EXPORT imagelibTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/imagelib/lib.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/imagelib)
install(FILES ${PROJECT_SOURCE_DIR}/noise/metrics.h ${PROJECT_SOURCE_DIR}/noise/impulse.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/noise)
install(EXPORT imagelibTargets NAMESPACE imagelib:: DESTINATION ${imagelib_cmake_dir})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/imagelibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/imagelibConfig.cmake
  INSTALL_DESTINATION ${imagelib_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imagelibConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/imagelibConfig.cmake
  ${PROJECT_BINARY_DIR}/imagelibConfigVersion.cmake
  DESTINATION ${imagelib_cmake_dir})

# The prefix is found from the .pc file's own place, so the installed tree can be moved (or
# installed with --prefix) without editing it.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(imagelib_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  string(REGEX REPLACE "[^/]+" ".." imagelib_pc_up "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  set(imagelib_pc_prefix "\${pcfiledir}/${imagelib_pc_up}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/imagelib.pc.in ${PROJECT_BINARY_DIR}/imagelib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imagelib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME imagenoise)
set(CPACK_PACKAGE_VENDOR "imagenoise maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "impulse noise for greyscale PNM images, with its image library")
set(CPACK_PACKAGE_DESCRIPTION
  "funcao_exe adds impulse noise to a copy of a PBM or PGM image and writes it as a plain PGM \
file; pnm_compare measures how far two greyscale images differ. The package also holds \
imagelib, the static C++ library both are built on, with its header, CMake package and \
pkg-config file.")
set(CPACK_PACKAGE_CONTACT "imagenoise maintainers <maintainers@imagenoise.invalid>"
  CACHE STRING "Maintainer written into packages")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
