# The RPM packages, included by Packaging.cmake: laid out as RHEL and Fedora lay out a
# command and its library, one set for RHEL 7 and every later one (and their rebuilds):
#   gorvic            /usr/bin/gorvic, static as in the tarball, and gorvic(1);
#   libzarngen        the versioned shared object in /usr/lib64, and ldconfig after it;
#   libzarngen-devel  the header, the .so link, the static archive, the pkg-config file,
#                     the CMake package and the section-3 pages.
# Their Requires and Provides are rpmbuild's own, from the ELF files and the pkg-config
# file; what it cannot see is written below.
find_program(GORVIC_RPMBUILD_PROGRAM rpmbuild)
if(NOT GORVIC_RPMBUILD_PROGRAM)
  message(FATAL_ERROR "The RPM packages need rpmbuild, which is not installed: "
                      "sudo apt-get install rpm (Debian), or sudo dnf install rpm-build")
endif()

set(CPACK_GENERATOR RPM)
set(CPACK_PACKAGE_FILE_NAME gorvic-${PROJECT_VERSION}-Linux)
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)  # <name>-<version>-<release>.<arch>.rpm
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})  # x86_64 or aarch64
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_PACKAGE_RELOCATABLE OFF)  # the pkg-config file and the CMake package say /usr
set(CPACK_RPM_RUNTIME_PACKAGE_NAME gorvic)
set(CPACK_RPM_LIBRARY_PACKAGE_NAME libzarngen)
set(CPACK_RPM_DEVELOPMENT_PACKAGE_NAME libzarngen-devel)

# Summary and description from the Debian ones: the first line, capitalised, and the
# paragraphs, apart by empty lines.
foreach(component RUNTIME LIBRARY DEVELOPMENT)
  set(description "${CPACK_COMPONENT_${component}_DESCRIPTION}")
  string(FIND "${description}" "\n" end)
  string(SUBSTRING "${description}" 0 1 first)
  string(TOUPPER "${first}" first)
  math(EXPR length "${end} - 1")
  string(SUBSTRING "${description}" 1 ${length} rest)
  set(CPACK_RPM_${component}_PACKAGE_SUMMARY "${first}${rest}")
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${description}" ${end} -1 description)
  string(REPLACE "\n.\n" "\n\n" CPACK_RPM_${component}_PACKAGE_DESCRIPTION "${description}")
endforeach()

# The development package goes with the library of the same build, and is found by the
# name that Fedora's CMake generator would give it.
set(CPACK_RPM_DEVELOPMENT_PACKAGE_REQUIRES "libzarngen%{?_isa} = %{version}-%{release}")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_PROVIDES "cmake(zarngen) = ${ZARNGEN_VERSION}")

# Groups, which RHEL 7's rpm still shows.
set(CPACK_RPM_RUNTIME_PACKAGE_GROUP Applications/Engineering)
set(CPACK_RPM_LIBRARY_PACKAGE_GROUP "System Environment/Libraries")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_GROUP Development/Libraries)

# The licence in /usr/share/licenses/<package>, marked %license, in each package that
# another does not bring in.
foreach(component_package Runtime:gorvic Library:libzarngen)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/${package} COMPONENT ${component})
  set(CPACK_RPM_${upper}_USER_FILELIST
      "%license ${CMAKE_INSTALL_FULL_DATAROOTDIR}/licenses/${package}/LICENSE")
endforeach()

# The folders that the system's own packages own (filesystem, pkgconfig, cmake-filesystem):
# ours hold only their own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    ${CMAKE_INSTALL_FULL_MANDIR} ${CMAKE_INSTALL_FULL_MANDIR}/man1
    ${CMAKE_INSTALL_FULL_MANDIR}/man3 ${CMAKE_INSTALL_FULL_DATAROOTDIR}/licenses
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_FULL_LIBDIR}/cmake)

# Reproducible: the time of every file and of the build is SOURCE_DATE_EPOCH, or the date of
# the changelog's top entry without it; the build host is not recorded. CMake has stripped
# the programs and compressed the man pages already, for either processor, so rpmbuild's
# own pass over them (the build machine's strip) is left out, and so are the
# /usr/lib/.build-id links, which RHEL 7 does not know.
set(CPACK_RPM_SPEC_MORE_DEFINE
"%define source_date_epoch_from_changelog 1
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible
%define __spec_install_post find %{buildroot} -exec touch -h -d @$SOURCE_DATE_EPOCH {} +
%define _build_id_links none
%define _binary_payload w9.xzdio
%define packager ${GORVIC_MAINTAINER}")

# ldconfig after the library is installed or removed: RHEL 7's glibc has no file trigger
# that runs it (later ones have, and run it once more).
set(CPACK_RPM_LIBRARY_POST_INSTALL_SCRIPT_FILE ${PROJECT_SOURCE_DIR}/cmake/rpm/ldconfig)
set(CPACK_RPM_LIBRARY_POST_UNINSTALL_SCRIPT_FILE ${PROJECT_SOURCE_DIR}/cmake/rpm/ldconfig)

# The changelog, from Debian's: each entry's "* <day> <who> - <version>-<release>" line,
# then its items as "- " lines.
file(STRINGS ${changelog_source} lines)
set(rpm_changelog "")
foreach(line IN LISTS lines)
  if(line MATCHES "^gorvic \\(([^)]+)\\)")
    set(version ${CMAKE_MATCH_1}-${CPACK_RPM_PACKAGE_RELEASE})
    set(items "")
  elseif(line MATCHES "^  \\* (.*)")
    string(APPEND items "- ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^    (.*)")
    string(APPEND items "  ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^ -- (.*)  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
    string(APPEND rpm_changelog "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} "
                                "${CMAKE_MATCH_5} ${CMAKE_MATCH_1} - ${version}\n${items}\n")
  endif()
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/rpm/changelog "${rpm_changelog}")
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/rpm/changelog)

include(CPack)
