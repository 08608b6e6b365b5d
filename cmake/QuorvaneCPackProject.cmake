# Run by cpack: the package's library dependencies, from dpkg-shlibdeps on the built binaries.
if(NOT CPACK_GENERATOR STREQUAL DEB)
  return()
endif()
find_program(dpkg_shlibdeps dpkg-shlibdeps REQUIRED)
# dpkg-shlibdeps runs only where it finds a debian/control, which this package has no use for.
set(scratch ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps)
file(MAKE_DIRECTORY ${scratch}/debian)
file(WRITE ${scratch}/debian/control "")
execute_process(COMMAND ${dpkg_shlibdeps} -O ${CPACK_QUORVANE_ELF_FILES}
                WORKING_DIRECTORY ${scratch}
                OUTPUT_VARIABLE shlibdeps OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_VARIABLE shlibdeps_errors
                RESULT_VARIABLE shlibdeps_result)
if(NOT shlibdeps_result EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${shlibdeps_errors}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" shlibdeps "${shlibdeps}")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${shlibdeps}")
