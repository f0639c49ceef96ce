# norvalex_add_library(<target> <name> SOURCES <files...> HEADERS <files...>)
# One of the installed libraries, exported as norvalex::<name>: static, or shared with
# BUILD_SHARED_LIBS, where only the declarations marked in the public headers (NORVALEX_*_API in
# include/norvalex/error.h) are exported. Its public headers, given relative to
# include/norvalex/, are installed there; every other header of src/ stays private.
include(GNUInstallDirs)

# The project's private headers (src/...), for its own libraries, programs and tests.
add_library(norvalex_private INTERFACE)
target_include_directories(norvalex_private INTERFACE ${PROJECT_SOURCE_DIR}/src)

function(norvalex_add_library target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS" ${ARGN})
  add_library(${target} ${ARG_SOURCES})
  add_library(norvalex::${name} ALIAS ${target})
  # Consumers include <norvalex/...>; the version header is generated into the build folder.
  target_include_directories(
    ${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                     $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
                     $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The headers need C++20 (std::endian, std::span), and say so to every consumer.
  target_compile_features(${target} PUBLIC cxx_std_20)
  # The warning set is the project's own business: consumers do not inherit it.
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:norvalex_warnings>
                                          $<BUILD_INTERFACE:norvalex_private>)
  norvalex_library_properties(${target} ${name})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    target_compile_definitions(${target} PUBLIC NORVALEX_SHARED)
  endif()
  install(TARGETS ${target} EXPORT norvalexTargets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  list(TRANSFORM ARG_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/include/norvalex/)
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/norvalex)
endfunction()

# Properties every library of the project shares, the internal ones included.
function(norvalex_library_properties target name)
  set_target_properties(
    ${target}
    PROPERTIES EXPORT_NAME ${name}
               CXX_VISIBILITY_PRESET hidden
               VISIBILITY_INLINES_HIDDEN ON
               # Static libraries may end up in a consumer's shared library or module.
               POSITION_INDEPENDENT_CODE ON
               VERSION ${PROJECT_VERSION}
               SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()
