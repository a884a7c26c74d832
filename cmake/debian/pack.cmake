# Read by cpack as it packs the Debian packages (CPACK_PROJECT_CONFIG_FILE): the Depends of
# the library's package, which CPack does not look into (see Packaging.cmake), from
# dpkg-shlibdeps on the library as built, as CPack finds those of the command's.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(READ ${CPACK_GORVIC_LIBRARY_FILE} library)
get_filename_component(work ${CPACK_GORVIC_LIBRARY_FILE} DIRECTORY)
set(work ${work}/shlibdeps)
file(REMOVE_RECURSE ${work})
file(WRITE ${work}/debian/control "")  # dpkg-shlibdeps reads it, however empty
execute_process(COMMAND dpkg-shlibdeps -O ${library} WORKING_DIRECTORY ${work}
                OUTPUT_VARIABLE out ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps gave no Depends for ${library} (${status}): ${out}${error}")
endif()
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
