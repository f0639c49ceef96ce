# The installed package: the CMake configuration that find_package(norvalex) reads, with the
# exported targets norvalex::diag, norvalex::tqs, norvalex::sf7 and norvalex::mesh (and
# norvalex::platform and norvalex::text, which they link), and norvalex.pc for pkg-config.
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

# The link flags of the libraries that `target` links beyond the project's own targets (HDF5's
# for the mesh library): -L<folder> -l<name> for a library file, -l<name> for a bare name, flags
# as they are, each once.
function(norvalex_pc_outside_libraries target result)
  get_target_property(items ${target} LINK_LIBRARIES)
  set(flags "")
  set(skip_next OFF)
  foreach(item IN LISTS items)
    if(skip_next)
      set(skip_next OFF)
    elseif(item STREQUAL "debug")
      set(skip_next ON) # a library of debug builds only
    elseif(TARGET "${item}" OR item MATCHES "^\\$<|::" OR item MATCHES "^(optimized|general)$")
      # The project's own targets, which the Libs line names, and what only the build tree uses.
    elseif(item MATCHES "^-")
      list(APPEND flags "${item}")
    elseif(IS_ABSOLUTE "${item}")
      get_filename_component(folder "${item}" DIRECTORY)
      get_filename_component(file "${item}" NAME)
      string(REGEX REPLACE "\\.(so|a|dylib|lib)(\\.[0-9.]+)?$" "" name "${file}")
      string(REGEX REPLACE "\\.dll$" "" name "${name}")
      string(REGEX REPLACE "^lib" "" name "${name}")
      if(name STREQUAL file)
        list(APPEND flags "${item}")
      else()
        list(APPEND flags "-L${folder}" "-l${name}")
      endif()
    else()
      list(APPEND flags "-l${item}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES flags)
  list(JOIN flags " " flags)
  set(${result} "${flags}" PARENT_SCOPE)
endfunction()

set(NORVALEX_PC_CFLAGS "")
# A static build links the text layer and the platform layer, which each shared library holds
# inside it.
set(NORVALEX_PC_TEXT " -lnorvalex_text")
set(NORVALEX_PC_PLATFORM " -lnorvalex_platform")
# The mesh library's HDF5: a static consumer links it too, so `pkg-config --libs` gives it; a
# shared libnorvalex_mesh links it itself, and only a fully static link (--static) needs it.
norvalex_pc_outside_libraries(norvalex_mesh mesh_outside)
set(NORVALEX_PC_OUTSIDE "")
set(NORVALEX_PC_OUTSIDE_PRIVATE "")
if(mesh_outside)
  set(NORVALEX_PC_OUTSIDE " ${mesh_outside}")
endif()
if(BUILD_SHARED_LIBS)
  set(NORVALEX_PC_CFLAGS " -DNORVALEX_SHARED")
  set(NORVALEX_PC_TEXT "")
  set(NORVALEX_PC_PLATFORM "")
  set(NORVALEX_PC_OUTSIDE_PRIVATE "${NORVALEX_PC_OUTSIDE}")
  set(NORVALEX_PC_OUTSIDE "")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/norvalex.pc.in ${PROJECT_BINARY_DIR}/norvalex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/norvalex.pc DESTINATION ${NORVALEX_PC_DIR})
