# norvalex_add_library(<target> <name> SOURCES <files...> HEADERS <files...>)
# One of the installed libraries, exported as norvalex::<name>: static, or shared with
# BUILD_SHARED_LIBS, where only the declarations marked in the public headers (src/diag/api.h)
# are exported. Its public headers are installed unchanged as include/norvalex/<name>/...,
# since they include each other only by paths relative to their own folder.
include(GNUInstallDirs)

function(norvalex_add_library target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS" ${ARGN})
  add_library(${target} ${ARG_SOURCES})
  add_library(norvalex::${name} ALIAS ${target})
  # The project's own code includes "tqs/..." from src/; consumers <norvalex/tqs/...>.
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
                                              $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # The warning set is the project's own business: consumers do not inherit it.
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:norvalex_warnings>)
  set_target_properties(
    ${target}
    PROPERTIES EXPORT_NAME ${name}
               CXX_VISIBILITY_PRESET hidden
               VISIBILITY_INLINES_HIDDEN ON
               # Static libraries may end up in a consumer's shared library or module.
               POSITION_INDEPENDENT_CODE ON
               VERSION ${PROJECT_VERSION}
               SOVERSION ${PROJECT_VERSION_MAJOR})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    target_compile_definitions(${target} PUBLIC NORVALEX_SHARED)
  endif()
  install(TARGETS ${target} EXPORT norvalexTargets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/norvalex/${name})
endfunction()
