# Install rules: the command and its man page, the library with its header, a CMake
# package (find_package(zarngen) gives zarngen::zarngen) and a pkg-config file. Paths are
# relative to the prefix, so `cmake --install build --prefix DIR` gives a working tree.
include(CMakePackageConfigHelpers)

set(ZARNGEN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zarngen)

install(TARGETS gorvic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/gorvic.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS zarngen EXPORT zarngenTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zarngen)
install(EXPORT zarngenTargets NAMESPACE zarngen:: DESTINATION ${ZARNGEN_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zarngenConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zarngenConfig.cmake INSTALL_DESTINATION ${ZARNGEN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zarngenConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zarngenConfig.cmake
              ${PROJECT_BINARY_DIR}/zarngenConfigVersion.cmake
        DESTINATION ${ZARNGEN_CMAKE_DIR})

# The .pc file finds its prefix from its own place (pcfiledir), so it stays right
# whatever prefix is chosen at install time.
file(RELATIVE_PATH ZARNGEN_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ZARNGEN_PC_TO_PREFIX "${ZARNGEN_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zarngen.pc.in ${PROJECT_BINARY_DIR}/zarngen.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zarngen.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
