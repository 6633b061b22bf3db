# What `cmake --install` puts where, and the Debian packages built from it
# by `cpack -G DEB`. Included from the top CMakeLists.txt.
#
# A plain install: the two programs, their manual pages, the README and the
# licence; the library (shared and static), its header, zelvix.pc, the CMake
# package and zelvix(3). The packages take the same programs, libraries,
# header and CMake files, and instead of the plain documentation components
# their own: the manual pages compressed, the licence as the copyright file
# and the changelog in each package's doc folder, a zelvix.pc for /usr, the
# Python module. Components shared by both installs: programs, library,
# development. Plain only: documentation, pkgconfig. Packages only
# (EXCLUDE_FROM_ALL): debian, library_debian, development_debian,
# python_debian.

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
# with the prefix it installs into (`cmake --install --prefix DIR` included);
# the packages' says /usr.
set(ZELVIX_PC_DL "")
if(CMAKE_DL_LIBS)
  set(ZELVIX_PC_DL -l${CMAKE_DL_LIBS})
endif()
set(ZELVIX_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(packaging/zelvix.pc.in ${PROJECT_BINARY_DIR}/packaging/zelvix.pc.in @ONLY)
set(ZELVIX_PC_PREFIX /usr)
configure_file(packaging/zelvix.pc.in ${PROJECT_BINARY_DIR}/packaging/debian/zelvix.pc @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/packaging/zelvix.pc.in\" \"${PROJECT_BINARY_DIR}/packaging/install/zelvix.pc\" @ONLY)"
  COMPONENT pkgconfig)
install(FILES ${PROJECT_BINARY_DIR}/packaging/install/zelvix.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT pkgconfig)

# The packages' own files.
set(ZELVIX_PACKAGE_DOCS packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/man/zelvix.1.gz ${PROJECT_BINARY_DIR}/man/zvtrace.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES README.md ${ZELVIX_PACKAGE_DOCS}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zelvix COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${ZELVIX_PACKAGE_DOCS}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libzelvix1 COMPONENT library_debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/packaging/debian/zelvix.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development_debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/man/zelvix.3.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development_debian EXCLUDE_FROM_ALL)
install(FILES ${ZELVIX_PACKAGE_DOCS}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libzelvix-dev COMPONENT development_debian EXCLUDE_FROM_ALL)
# Debian's python3 finds pure modules in /usr/lib/python3/dist-packages.
install(DIRECTORY python/zelvix/ DESTINATION lib/python3/dist-packages/zelvix
  COMPONENT python_debian EXCLUDE_FROM_ALL
  FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)
install(FILES ${ZELVIX_PACKAGE_DOCS}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-zelvix COMPONENT python_debian EXCLUDE_FROM_ALL)

set(ZELVIX_MAINTAINER "zelvix maintainers <maintainers@users.noreply.c-seed-72d42d2f.example>"
  CACHE STRING "The Maintainer field of the Debian packages")

# Four packages, one per component group, each named after its group.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs debian library library_debian development development_debian python_debian)
foreach(member programs:zelvix debian:zelvix library:libzelvix1 library_debian:libzelvix1
    development:libzelvix-dev development_debian:libzelvix-dev python_debian:python3-zelvix)
  string(REPLACE ":" ";" member "${member}")
  list(GET member 0 component)
  list(GET member 1 group)
  string(TOUPPER "${component}" component)
  set(CPACK_COMPONENT_${component}_GROUP ${group})
endforeach()
foreach(group zelvix libzelvix1 libzelvix-dev python3-zelvix)
  string(TOUPPER "${group}" group_upper)
  set(CPACK_DEBIAN_${group_upper}_PACKAGE_NAME ${group})
endforeach()
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZELVIX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE zelvix)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Depends of zelvix and libzelvix1 come from dpkg-shlibdeps, run by the
# project config file. zelvix loads libSDL2 at run time, so dpkg-shlibdeps
# does not see it in the program: it is run on the programs and on a probe
# that links the same SDL2 entry points (sdl_probe.cpp).
add_executable(sdl_probe packaging/sdl_probe.cpp)
target_link_libraries(sdl_probe PRIVATE PkgConfig::SDL2)
target_include_directories(sdl_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
set(ZELVIX_PACKAGE_BINARIES "$<TARGET_FILE:zelvix>;$<TARGET_FILE:zvtrace>;$<TARGET_FILE:sdl_probe>")
set(ZELVIX_PACKAGE_LIBRARY "$<TARGET_FILE:zelvix_shared>")
configure_file(packaging/package_depends.cmake.in ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake
  INPUT ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/package_depends.cmake)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)

set(CPACK_DEBIAN_ZELVIX_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_ZELVIX_DESCRIPTION [=[console player for XM and MOD tracker music modules
zelvix loads one tracker music module, in the XM format or the MOD format
(31-sample modules with a channel signature, and the older 15-sample form),
and either plays it live through the sound device with a status line and a
few keys, or renders the whole song into a 16-bit stereo WAV file as fast
as the machine allows. Rendering is exact and repeatable: the same module
and options always give the same bytes.
.
The package also holds zvtrace, which prints the replayer's state after
every tick of a module.]=])

set(CPACK_DEBIAN_LIBZELVIX1_PACKAGE_SECTION libs)
# The shlibs file (a program built against this version needs it or a later
# one) and the ldconfig trigger are written here: CPack's own shlibs option
# also adds maintainer scripts that call ldconfig, which Debian no longer
# wants.
configure_file(packaging/libzelvix1/shlibs.in ${PROJECT_BINARY_DIR}/packaging/libzelvix1/shlibs @ONLY)
set(CPACK_DEBIAN_LIBZELVIX1_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/packaging/libzelvix1/shlibs ${PROJECT_SOURCE_DIR}/packaging/libzelvix1/triggers)
set(CPACK_DEBIAN_LIBZELVIX1_DESCRIPTION [=[library rendering XM and MOD tracker music modules
libzelvix loads tracker music modules in the XM and MOD formats and renders
them into 16-bit stereo frames, exactly as the zelvix program renders them
to WAV files, through a C interface: one handle per module, with its
output settings, its place in the song and its information (name, format,
channels, instruments and samples).
.
This package holds the shared library.]=])

set(CPACK_DEBIAN_LIBZELVIX-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBZELVIX-DEV_PACKAGE_DEPENDS "libzelvix1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBZELVIX-DEV_DESCRIPTION [=[library rendering XM and MOD tracker music modules - development files
libzelvix loads tracker music modules in the XM and MOD formats and renders
them into 16-bit stereo frames, exactly as the zelvix program renders them
to WAV files, through a C interface.
.
This package holds the header, the static library, the files for
pkg-config and CMake's find_package, and the manual page zelvix(3).]=])

set(CPACK_DEBIAN_PYTHON3-ZELVIX_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON3-ZELVIX_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON3-ZELVIX_PACKAGE_DEPENDS "python3, libzelvix1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON3-ZELVIX_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/python3-zelvix/postinst ${PROJECT_SOURCE_DIR}/packaging/python3-zelvix/prerm)
set(CPACK_DEBIAN_PYTHON3-ZELVIX_DESCRIPTION [=[Python interface to libzelvix, rendering XM and MOD tracker modules
The zelvix module gives Python 3 programs the C interface of libzelvix
through ctypes: load XM and MOD tracker music modules and render them into
16-bit stereo frames, exactly as the zelvix program renders them to WAV
files.]=])
include(CPack)
