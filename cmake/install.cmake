# SPDX-License-Identifier: MIT
# Installation and packaging: the commands, the static libraries with their headers, a CMake
# package (find_package(imagelib CONFIG) gives imagelib::imagelib, imagelib::metrics and
# imagelib::noise), a pkg-config file, the compressed manual pages, the licence and the
# changelog, and a Debian package through CPack that lintian accepts. Every version number here
# comes from project(VERSION).

# Debian and its derivatives keep libraries in the multiarch directory, under /usr/local as under
# /usr, and look for pkg-config files of other architectures there: so every prefix gets it.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND NOT CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
    CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(imagelib_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/imagelib)
find_program(IMAGENOISE_GZIP gzip)
mark_as_advanced(IMAGENOISE_GZIP)

# Writes <file>.gz beside <file> as Debian compresses documentation (best, no name or time
# stamp) and gives the path of what to install: the plain file where there is no gzip.
function(imagenoise_compress file out)
  if(IMAGENOISE_GZIP)
    execute_process(COMMAND ${IMAGENOISE_GZIP} -9nc ${file} OUTPUT_FILE ${file}.gz
      RESULT_VARIABLE failed)
    if(NOT failed)
      set(${out} ${file}.gz PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${out} ${file} PARENT_SCOPE)
endfunction()

install(TARGETS funcao_exe pnm_compare RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The manual pages name the version in their footer.
foreach(page funcao_exe.1 pnm_compare.1)
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REGEX REPLACE "(\n\\.TH [^\n]*)\"imagenoise\"" "\\1\"imagenoise ${PROJECT_VERSION}\""
    text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/man/${page} "${text}")
  imagenoise_compress(${PROJECT_BINARY_DIR}/man/${page} installed)
  install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

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

# The libraries are stripped as Debian strips them (debugging sections, and the sections no
# program needs), when the install strips (cmake --install --strip, and the package).
if(CMAKE_STRIP AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  foreach(lib imagelib imagelib_metrics imagelib_noise)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
    --remove-section=.note --enable-deterministic-archives
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${lib}>\")
endif()")
  endforeach()
  foreach(program funcao_exe pnm_compare)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\")
endif()")
  endforeach()
endif()

# The licence (in Debian's machine-readable form, which names the photograph's and the test
# files' own terms too) and the changes, compressed as Debian expects.
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${doc_dir}/copyright COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${doc_dir}/changelog COPYONLY)
imagenoise_compress(${doc_dir}/changelog changelog)
install(FILES ${doc_dir}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME imagenoise)
set(CPACK_PACKAGE_VENDOR "imagenoise maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "impulse noise for greyscale PNM and PNG images, with its image library")
# Debian's description lines stay within 80 columns.
# (CPack puts the summary first.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "funcao_exe adds impulse noise to a copy of a PBM, PGM or PNG image and writes
it as plain or raw PGM or as PNG, with the mask of the pixels it changed;
pnm_compare measures how far two greyscale images differ.
The package also holds imagelib, the static C++ library both are built on,
with its headers, CMake package and pkg-config file.")
set(CPACK_PACKAGE_CONTACT "imagenoise maintainers <maintainers@imagenoise.invalid>"
  CACHE STRING "Maintainer written into packages")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The first package of each version: 0.1.0-1.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# The package's own changelog, dated as CHANGELOG.md dates this version's release.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md release
  REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9]+-[0-9]+-[0-9]+$")
if(release MATCHES "([0-9]+)-0?([0-9]+)-0?([0-9]+)$")
  set(year ${CMAKE_MATCH_1})
  set(month ${CMAKE_MATCH_2})
  set(day ${CMAKE_MATCH_3})
else()
  message(WARNING "CHANGELOG.md has no line \"## [${PROJECT_VERSION}] - <date>\": the package's "
    "changelog is dated today")
  string(TIMESTAMP year "%Y" UTC)
  string(TIMESTAMP month "%m" UTC)
  string(TIMESTAMP day "%d" UTC)
  math(EXPR month "${month}")
  math(EXPR day "${day}")
endif()
# Zeller's congruence: 0 is a Saturday.
set(y ${year})
set(m ${month})
if(m LESS 3)
  math(EXPR m "${m} + 12")
  math(EXPR y "${y} - 1")
endif()
math(EXPR weekday
  "(${day} + 13 * (${m} + 1) / 5 + ${y} % 100 + ${y} % 100 / 4 + ${y} / 400 + 5 * (${y} / 100)) % 7")
set(weekdays Sat Sun Mon Tue Wed Thu Fri)
list(GET weekdays ${weekday} weekday)
math(EXPR month_index "${month} - 1")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET months ${month_index} month_name)
if(day LESS 10)
  set(day 0${day})
endif()
file(WRITE ${doc_dir}/changelog.Debian
"${CPACK_PACKAGE_NAME} (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}: changelog.gz, beside this file, lists its changes.

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${weekday}, ${day} ${month_name} ${year} 00:00:00 +0000
")
imagenoise_compress(${doc_dir}/changelog.Debian changelog_debian)
# Only in the package (its own component, which a plain install leaves out), with the lintian
# overrides that say why a finding does not apply to it.
install(FILES ${changelog_debian} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian
  EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${PROJECT_NAME}
  COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
  "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
include(CPack)
