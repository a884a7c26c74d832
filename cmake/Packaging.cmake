# Packages, made by CPack from the install components (see Install.cmake):
#  - on Linux, as GORVIC_PACKAGE_FORMAT says:
#    TGZ  gorvic-<version>-Linux-<processor>.tar.gz, for any Linux of that processor
#         (x86_64, or aarch64 from the aarch64-portable preset), with an environment module;
#    DEB  three Debian packages, split as Debian splits a library and its tool (gorvic:
#         Runtime; libzarngen<SOVERSION>: Library; libzarngen-dev: Development);
#    RPM  three RPM packages, split as RHEL and Fedora split them (gorvic, libzarngen,
#         libzarngen-devel), for RHEL 7 and later, x86_64 or aarch64;
#  - on Windows, gorvic-<version>-win64.zip with everything, LICENSE, the README and
#    doc/windows.md.
# `cmake --workflow --preset` package, rpm, aarch64-rpm, portable, aarch64-portable and
# windows-package make them.

set(CPACK_PACKAGE_NAME gorvic)
set(CPACK_PACKAGE_VENDOR "the gorvic authors")
# Each Debian package's description below has its own first line; CPack puts the summary
# before it unless the summary is CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  if(BUILD_SHARED_LIBS AND MINGW AND NOT ZARNGEN_MSVC_IMPLIB)
    message(FATAL_ERROR "The zip needs zarngen.lib, which llvm-dlltool makes: "
                        "sudo apt-get install llvm")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION .
          COMPONENT Runtime)
  # What a Windows user needs beyond the README: the DLL from Visual Studio.
  install(FILES ${PROJECT_SOURCE_DIR}/doc/windows.md DESTINATION doc COMPONENT Runtime)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME gorvic-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

if(GORVIC_PACKAGE_FORMAT STREQUAL "TGZ")
  # A tarball for any Linux of its processor (the portable presets): gorvic linked
  # statically, the library's files in lib/, and a pkg-config file, a CMake package and an
  # environment module that find their prefix from where they lie.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT Runtime)
  # share/modulefiles/gorvic/<version>, as a site's module tree names a version.
  set(module_dir ${CMAKE_INSTALL_DATAROOTDIR}/modulefiles/gorvic)
  file(RELATIVE_PATH GORVIC_MODULE_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${module_dir}
       ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" GORVIC_MODULE_TO_PREFIX "${GORVIC_MODULE_TO_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/modulefile.in
                 ${PROJECT_BINARY_DIR}/modulefiles/${PROJECT_VERSION} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/modulefiles/${PROJECT_VERSION} DESTINATION ${module_dir}
          COMPONENT Runtime)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME gorvic-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR})
  include(CPack)
  return()
endif()

# ---- What the Debian and the RPM packages share ----------------------------------------

set(CPACK_COMPONENTS_ALL Runtime Library Development)
set(GORVIC_MAINTAINER "The gorvic authors <gorvic@example.org>" CACHE STRING
    "The maintainer of the Debian and RPM packages")
# Each description as Debian writes it: the summary, then paragraphs apart by "." lines.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"generator of chain-of-integrator netlists
gorvic writes the netlist of a cell made of a chain of N delayed integrators,
from one to 2147483647, for a circuit simulator's description language. It
streams in constant memory at the speed of the disk, and every failure it
meets is a precise diagnostic on standard error with exit status 1.")
set(zarngen_description
"zarngen offers generators of netlists line cleaning, punctuation blanking,
file name and extension splitting, lexical path simplification and an
engineering-notation formatter with SI prefixes, with C linkage.
.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
"support routines for netlist generators
${zarngen_description}
This package holds the shared library.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"support routines for netlist generators - development files
${zarngen_description}
This package holds the header, the static library, the CMake package and
pkg-config file, and the manual pages of section 3.")

# The changelog is Debian's, and the RPM packages' is made from it; its top entry is this
# version.
set(changelog_source ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
file(STRINGS ${changelog_source} top_entry LIMIT_COUNT 1)
if(NOT top_entry MATCHES "^gorvic \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()

if(GORVIC_PACKAGE_FORMAT STREQUAL "RPM")
  include(${PROJECT_SOURCE_DIR}/cmake/rpm/rpm.cmake)
  return()
endif()

# ---- The Debian packages ----------------------------------------------------------------

# Without these CPack stops half way (file) or, worse, makes packages without any
# Depends (dpkg-shlibdeps): so configuring stops first, naming what to install.
foreach(tool_package file:file dpkg-shlibdeps:dpkg-dev)
  string(REPLACE ":" ";" pair ${tool_package})
  list(GET pair 0 tool)
  list(GET pair 1 package)
  find_program(GORVIC_${tool}_PROGRAM ${tool})
  if(NOT GORVIC_${tool}_PROGRAM)
    message(FATAL_ERROR "The Debian packages need ${tool}, which is not installed: "
                        "sudo apt-get install ${package}")
  endif()
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_FILE_NAME gorvic-${PROJECT_VERSION}-Linux)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <package>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${GORVIC_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(library_package libzarngen${ZARNGEN_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME gorvic)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION electronics)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${library_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# CPack does not look into the library's package: finding a library under /usr/lib, it
# would write a postinst and a postrm that call ldconfig, which the ldconfig trigger makes
# redundant (lintian warns maintscript-calls-ldconfig), and it leaves them out only for
# scripts of those names in CONTROL_EXTRA, warning at every build when they do not exist.
# So its shlibs file is written here (a program built against this version takes any later
# one of the same SONAME), and its Depends are found by dpkg-shlibdeps as cpack packs
# (cmake/debian/pack.cmake). With them go the ldconfig trigger and the symbols, each with
# the version that brought it.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
     "libzarngen ${ZARNGEN_VERSION_MAJOR} ${library_package} (>= ${PROJECT_VERSION})\n")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/debian/library CONTENT $<TARGET_FILE:zarngen>)
set(CPACK_GORVIC_LIBRARY_FILE ${PROJECT_BINARY_DIR}/debian/library)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/debian/pack.cmake)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs
                                               ${PROJECT_SOURCE_DIR}/cmake/debian/triggers
                                               ${PROJECT_SOURCE_DIR}/cmake/debian/symbols)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzarngen-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${library_package} (= ${PROJECT_VERSION})")

include(CPack)

# Each package's /usr/share/doc/<package>: the copyright (the LICENSE, in Debian's
# format) and the changelog, compressed.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*(Permission is hereby)" "\\1" license "${license}")
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REGEX REPLACE "\n" "\n " license " ${license}")
string(REGEX REPLACE " $" "" license "${license}")
file(READ ${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in copyright)
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright "${copyright}${license}")

set(changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
gorvic_gzip(${changelog_source} ${changelog})
add_custom_target(debian_changelog ALL DEPENDS ${changelog})
foreach(component_package Runtime:gorvic Library:${library_package}
                          Development:libzarngen-dev)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
