# Installs a norvalex build into a scratch prefix, then configures, builds and runs the consumer
# project against the installed package, and checks norvalex.pc.
#
#   cmake -DBUILD_DIR=<norvalex build> -DWORK_DIR=<scratch folder> -DCXX=<compiler>
#         [-DCONSUMER_FLAGS=<compiler flags>] [-DSHARED_FROM_SOURCE=<src>]
#         [-DTOOLCHAIN_FILE=<file> -DEMULATOR=<program>] -P run.cmake
#
# With SHARED_FROM_SOURCE the libraries are first built anew from that source folder as shared
# libraries (in WORK_DIR/shared-build), and that build is installed instead. A cross build gives
# its toolchain file and the emulator that runs its programs (Wine for Windows).
foreach(variable BUILD_DIR WORK_DIR CXX)
  if(NOT ${variable})
    message(FATAL_ERROR "run.cmake needs -D${variable}=...")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(installed ${BUILD_DIR})
if(SHARED_FROM_SOURCE)
  set(installed ${WORK_DIR}/shared-build)
  run(${CMAKE_COMMAND} -S ${SHARED_FROM_SOURCE} -B ${installed} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_CXX_COMPILER=${CXX} -DBUILD_SHARED_LIBS=ON -DNORVALEX_BUILD_TESTS=OFF)
  run(${CMAKE_COMMAND} --build ${installed} --parallel 2)
endif()
run(${CMAKE_COMMAND} --install ${installed} --prefix ${prefix})

get_filename_component(consumer_source ${CMAKE_CURRENT_LIST_DIR} ABSOLUTE)
set(cross_options "")
set(suffix "")
if(TOOLCHAIN_FILE)
  # The package named directly: a cross toolchain looks for packages in the target's root only.
  set(cross_options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -Dnorvalex_DIR=${prefix}/lib/cmake/norvalex)
  set(suffix .exe)
endif()
run(${CMAKE_COMMAND} -S ${consumer_source} -B ${WORK_DIR}/build -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
    ${cross_options})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
# A Windows program writes its line end as CR LF.
run(${EMULATOR} ${WORK_DIR}/build/consumer${suffix} ${WORK_DIR})
if(NOT output MATCHES "^consumer: ok\r?\n$")
  message(FATAL_ERROR "consumer output: ${output}")
endif()

# The README's library example, as a newcomer copies it: its CMake lines around the one line that
# names the program's source, and its code built with CMake and with pkg-config's flags.
file(READ ${CMAKE_CURRENT_LIST_DIR}/../../README.md readme)
string(FIND "${readme}" "## Using the library" section)
string(SUBSTRING "${readme}" ${section} -1 readme)
string(REGEX MATCH "```cmake\n([^`]*)```" cmake_block "${readme}")
set(readme_cmake "${CMAKE_MATCH_1}")
string(REGEX MATCH "```cpp\n([^`]*)```" cpp_block "${readme}")
set(readme_cpp "${CMAKE_MATCH_1}")
if(NOT readme_cmake OR NOT readme_cpp)
  message(FATAL_ERROR "no cmake and cpp blocks under the README's \"Using the library\"")
endif()
string(REGEX REPLACE "(find_package[^\n]*\n)" "\\1add_executable(myprogram main.cpp)\n"
                     readme_cmake "${readme_cmake}")
set(readme_dir ${WORK_DIR}/readme)
file(WRITE ${readme_dir}/main.cpp "${readme_cpp}")
file(WRITE ${readme_dir}/CMakeLists.txt
     "cmake_minimum_required(VERSION 3.25)\nproject(readme_example LANGUAGES CXX)\n${readme_cmake}")
run(${CMAKE_COMMAND} -S ${readme_dir} -B ${readme_dir}/build -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
    ${cross_options})
run(${CMAKE_COMMAND} --build ${readme_dir}/build)
set(readme_programs ${readme_dir}/build/myprogram${suffix})

# The same programs built with the flags that pkg-config gives for norvalex.pc.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_file ${prefix}/norvalex.pc)
  get_filename_component(pc_folder "${pc_file}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_folder})
  run(${PKG_CONFIG} --cflags --libs norvalex)
  separate_arguments(pc_flags UNIX_COMMAND "${output}")
  separate_arguments(extra_flags UNIX_COMMAND "${CONSUMER_FLAGS}")
  # The flags alone, as a user takes them: the standard the headers need comes with them.
  run(${CXX} ${extra_flags} ${consumer_source}/consumer.cpp ${pc_flags}
      -o ${WORK_DIR}/consumer-pc${suffix})
  file(MAKE_DIRECTORY ${WORK_DIR}/pc)
  run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${pc_folder}/.. ${EMULATOR}
      ${WORK_DIR}/consumer-pc${suffix} ${WORK_DIR}/pc)
  if(NOT output MATCHES "^consumer: ok\r?\n$")
    message(FATAL_ERROR "consumer built with pkg-config: ${output}")
  endif()
  run(${CXX} ${extra_flags} ${readme_dir}/main.cpp ${pc_flags} -o ${readme_dir}/myprogram-pc${suffix})
  list(APPEND readme_programs ${readme_dir}/myprogram-pc${suffix})
endif()

# Each writes ez.tqs where it runs and prints the average the README shows.
foreach(program ${readme_programs})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib ${EMULATOR} ${program}
                  WORKING_DIRECTORY ${readme_dir} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT output MATCHES "^average Ez: 2\\.5e\\+06 V/m\r?\n$")
    message(FATAL_ERROR "the README's example ${program}: ${output}")
  endif()
endforeach()
