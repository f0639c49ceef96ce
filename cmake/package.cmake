# The installed package: the CMake configuration that find_package(norvalex) reads, with the
# exported targets norvalex::diag, norvalex::tqs and norvalex::sf7 (and norvalex::platform, which
# they link), and norvalex.pc for pkg-config.
include(CMakePackageConfigHelpers)

set(NORVALEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/norvalex)
install(EXPORT norvalexTargets NAMESPACE norvalex:: DESTINATION ${NORVALEX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/norvalexConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/norvalexConfig.cmake
                              INSTALL_DESTINATION ${NORVALEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/norvalexConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/norvalexConfig.cmake
              ${PROJECT_BINARY_DIR}/norvalexConfigVersion.cmake DESTINATION ${NORVALEX_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so that an install with --prefix (chosen after
# configuring) still points at the right folders.
set(NORVALEX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${NORVALEX_PC_DIR}")
  set(NORVALEX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH to_prefix "/prefix/${NORVALEX_PC_DIR}" "/prefix")
  string(REGEX REPLACE "/$" "" to_prefix "${to_prefix}")
  set(NORVALEX_PC_PREFIX "\${pcfiledir}/${to_prefix}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(NORVALEX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(NORVALEX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(NORVALEX_PC_CFLAGS "")
# A static build links the platform layer, which each shared library holds inside it.
set(NORVALEX_PC_PLATFORM " -lnorvalex_platform")
if(BUILD_SHARED_LIBS)
  set(NORVALEX_PC_CFLAGS " -DNORVALEX_SHARED")
  set(NORVALEX_PC_PLATFORM "")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/norvalex.pc.in ${PROJECT_BINARY_DIR}/norvalex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/norvalex.pc DESTINATION ${NORVALEX_PC_DIR})
