# Install rules, in three components as distributions split a library and its tool:
#   Runtime      the command and its man page;
#   Library      the shared library (the DLL on Windows), what programs need to run;
#   Development  the header, the static archive, the link-time library, a CMake package
#                (find_package(zarngen) gives zarngen::zarngen) and a pkg-config file,
#                and the section-3 man pages.
# Paths are relative to the prefix, so `cmake --install build --prefix DIR` gives a
# working tree.
include(CMakePackageConfigHelpers)

# What `cpack` makes on Linux: the portable tarball, Debian packages or RPM packages. The
# packages have their man pages gzipped and their licence where the distribution wants it.
set(GORVIC_PACKAGE_FORMAT TGZ CACHE STRING "What cpack makes on Linux: TGZ, DEB or RPM")
set_property(CACHE GORVIC_PACKAGE_FORMAT PROPERTY STRINGS TGZ DEB RPM)
if(NOT GORVIC_PACKAGE_FORMAT MATCHES "^(TGZ|DEB|RPM)$")
  message(FATAL_ERROR "GORVIC_PACKAGE_FORMAT is '${GORVIC_PACKAGE_FORMAT}': TGZ, DEB or RPM")
endif()
set(ZARNGEN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zarngen)

# Compresses `input` into `output` when building, as Debian and RPM distributions want it:
# gzip -9n, so that the file holds no name and no time stamp.
function(gorvic_gzip input output)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND gzip -9n -c ${input} > ${output}
    DEPENDS ${input} VERBATIM)
endfunction()

# Installs the man pages of one section; compressed in the packages.
function(gorvic_install_man section component)
  set(pages ${ARGN})
  if(NOT GORVIC_PACKAGE_FORMAT STREQUAL "TGZ")
    set(compressed "")
    foreach(page IN LISTS pages)
      get_filename_component(name ${page} NAME)
      gorvic_gzip(${page} ${PROJECT_BINARY_DIR}/man/${name}.gz)
      list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${name}.gz)
    endforeach()
    add_custom_target(man${section} ALL DEPENDS ${compressed})
    set(pages ${compressed})
  endif()
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

if(GORVIC_COMMAND)
  install(TARGETS gorvic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  gorvic_install_man(1 Runtime ${PROJECT_SOURCE_DIR}/doc/gorvic.1)
endif()

install(TARGETS ${ZARNGEN_TARGETS} EXPORT zarngenTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Library
          NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zarngen COMPONENT Development)
install(EXPORT zarngenTargets NAMESPACE zarngen:: DESTINATION ${ZARNGEN_CMAKE_DIR}
        COMPONENT Development)
if(ZARNGEN_MSVC_IMPLIB)
  # The DLL for the platform's own toolchain: its export list and import library.
  install(FILES ${ZARNGEN_DEF} ${ZARNGEN_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT Development)
endif()
file(GLOB zarngen_pages ${PROJECT_SOURCE_DIR}/doc/*.3)
gorvic_install_man(3 Development ${zarngen_pages})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zarngenConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zarngenConfig.cmake INSTALL_DESTINATION ${ZARNGEN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zarngenConfigVersion.cmake
  VERSION ${ZARNGEN_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zarngenConfig.cmake
              ${PROJECT_BINARY_DIR}/zarngenConfigVersion.cmake
        DESTINATION ${ZARNGEN_CMAKE_DIR} COMPONENT Development)

# pkg-config. The prefix is written when installing, where the real one is known.
# Installed into /usr, it is /usr itself, which pkg-config recognises and leaves off the
# flags; anywhere else the file finds its prefix from its own place (pcfiledir), so that
# the tree can move, or be packed into an archive.
file(RELATIVE_PATH ZARNGEN_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ZARNGEN_PC_TO_PREFIX "${ZARNGEN_PC_TO_PREFIX}")
foreach(kind usr relocatable)
  if(kind STREQUAL "usr")
    set(ZARNGEN_PC_PREFIX /usr)
  else()
    set(ZARNGEN_PC_PREFIX "\${pcfiledir}/${ZARNGEN_PC_TO_PREFIX}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/zarngen.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${kind}/zarngen.pc @ONLY)
endforeach()
install(CODE "
  set(kind relocatable)
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(kind usr)
  endif()
  file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/\${kind}/zarngen.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
" COMPONENT Development)
