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

# The same program built with the flags that pkg-config gives for norvalex.pc.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_file ${prefix}/norvalex.pc)
  get_filename_component(pc_folder "${pc_file}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_folder})
  run(${PKG_CONFIG} --cflags --libs norvalex)
  separate_arguments(pc_flags UNIX_COMMAND "${output}")
  separate_arguments(extra_flags UNIX_COMMAND "${CONSUMER_FLAGS}")
  # What the CMake build found of the mesh library.
  file(STRINGS ${WORK_DIR}/build/CMakeCache.txt t7_reader REGEX "^CONSUMER_HAS_T7_READER:[A-Z]+=1$")
  if(t7_reader)
    list(APPEND extra_flags -DCONSUMER_HAS_T7_READER)
  endif()
  # The flags alone, as a user takes them: the standard the headers need comes with them.
  run(${CXX} ${extra_flags} ${consumer_source}/consumer.cpp ${pc_flags}
      -o ${WORK_DIR}/consumer-pc${suffix})
  file(MAKE_DIRECTORY ${WORK_DIR}/pc)
  run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${pc_folder}/.. ${EMULATOR}
      ${WORK_DIR}/consumer-pc${suffix} ${WORK_DIR}/pc)
  if(NOT output MATCHES "^consumer: ok\r?\n$")
    message(FATAL_ERROR "consumer built with pkg-config: ${output}")
  endif()
endif()
