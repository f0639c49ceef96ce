# find_package(GTest) for a cross build: the host's GoogleTest libraries are Linux ones, so this
# builds GoogleTest for the target from the sources that Debian's googletest package installs.
# Setting GTest_DIR to this folder selects it; CMake's FindGTest then takes the targets
# GTest::gtest and GTest::gtest_main from here.

if(NOT TARGET GTest::gtest)
  set(NORVALEX_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest
      CACHE PATH "GoogleTest's sources, built for the target when cross-compiling")
  if(NOT EXISTS ${NORVALEX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest's sources are not in ${NORVALEX_GOOGLETEST_SOURCE_DIR}; "
                        "scripts/install-windows-tools installs them")
  endif()
  # Built only as far as the tests need it.
  add_subdirectory(${NORVALEX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL)
endif()
