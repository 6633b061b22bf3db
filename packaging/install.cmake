# What `cmake --install` puts where, and the Debian package built from it
# by `cpack -G DEB`. Included from the top CMakeLists.txt.
#
# A plain install: the two programs, their manual pages, the README and the
# licence; the library (shared and static), its header, zelvix.pc, the CMake
# package and zelvix(3). The package takes the programs and its own
# documentation component instead: the manual pages compressed, the README,
# and the licence as the copyright file, with the changelog, where Debian
# policy puts them.

foreach(page zelvix.1 zvtrace.1 zelvix.3)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/man/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
    DEPENDS ${PROJECT_BINARY_DIR}/man/${page} VERBATIM)
  list(APPEND ZELVIX_COMPRESSED_PAGES ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(package_files ALL DEPENDS ${ZELVIX_COMPRESSED_PAGES} ${PROJECT_BINARY_DIR}/packaging/changelog.gz)

# The programs.
install(TARGETS zelvix zvtrace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
install(FILES ${PROJECT_BINARY_DIR}/man/zelvix.1 ${PROJECT_BINARY_DIR}/man/zvtrace.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT documentation)
install(FILES ${PROJECT_BINARY_DIR}/man/zelvix.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT documentation)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT documentation)

# The library: its file and the SONAME link (library); the link for -lzelvix,
# the static library, the header and the CMake package (development).
install(TARGETS zelvix_shared zelvix_static EXPORT zelvixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES include/zelvix/zelvix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelvix COMPONENT development)
set(ZELVIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelvix)
install(EXPORT zelvixTargets NAMESPACE zelvix:: DESTINATION ${ZELVIX_CMAKE_DIR} COMPONENT development)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/zelvixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES packaging/zelvixConfig.cmake ${PROJECT_BINARY_DIR}/packaging/zelvixConfigVersion.cmake
  DESTINATION ${ZELVIX_CMAKE_DIR} COMPONENT development)

# zelvix.pc names its prefix. The plain install's is written when it runs,
# with the prefix it installs into (`cmake --install --prefix DIR` included).
set(ZELVIX_PC_DL "")
if(CMAKE_DL_LIBS)
  set(ZELVIX_PC_DL -l${CMAKE_DL_LIBS})
endif()
set(ZELVIX_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(packaging/zelvix.pc.in ${PROJECT_BINARY_DIR}/packaging/zelvix.pc.in @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/packaging/zelvix.pc.in\" \"${PROJECT_BINARY_DIR}/packaging/install/zelvix.pc\" @ONLY)"
  COMPONENT pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/packaging/install/zelvix.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT pkgconfig)

install(FILES ${PROJECT_BINARY_DIR}/man/zelvix.1.gz ${PROJECT_BINARY_DIR}/man/zvtrace.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES README.md packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(ZELVIX_MAINTAINER "zelvix maintainers <maintainers@users.noreply.c-seed-72d42d2f.example>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${PROJECT_BINARY_DIR};zelvix;programs;/"
  "${PROJECT_BINARY_DIR};zelvix;debian;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZELVIX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# zelvix loads libSDL2 at run time, so dpkg-shlibdeps does not see it in the
# program: it is run by the project config file on the programs and on a
# probe that links the same SDL2 entry points (sdl_probe.cpp).
add_executable(sdl_probe packaging/sdl_probe.cpp)
target_link_libraries(sdl_probe PRIVATE PkgConfig::SDL2)
target_include_directories(sdl_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
set(ZELVIX_PACKAGE_BINARIES "$<TARGET_FILE:zelvix>;$<TARGET_FILE:zvtrace>;$<TARGET_FILE:sdl_probe>")
configure_file(packaging/package_depends.cmake.in ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake
  INPUT ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console player for XM and MOD tracker music modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
zelvix loads one tracker music module, in the XM format or the MOD format
(31-sample modules with a channel signature, and the older 15-sample form),
and either plays it live through the sound device with a status line and a
few keys, or renders the whole song into a 16-bit stereo WAV file as fast
as the machine allows. Rendering is exact and repeatable: the same module
and options always give the same bytes.
.
The package also holds zvtrace, which prints the replayer's state after
every tick of a module.]=])
include(CPack)
