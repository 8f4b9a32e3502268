# Installs the library into a temporary prefix, then builds and runs a host program
# against it twice: through find_package(VelSDKNurbs CONFIG) and through add_subdirectory.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGV}\n${out}\n${err}")
  endif()
endfunction()

set(opts -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release -DVELSDK_NURBS_TESTS=OFF -DVELSDK_NURBS_BENCH=OFF
  -DVELSDK_NURBS_TOOLS=OFF -DVELSDK_NURBS_EXAMPLES=OFF -DVELSDK_NURBS_PYTHON=OFF)

# 1. Build and install the library.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/lib-build ${opts} -DCMAKE_INSTALL_PREFIX=${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/lib-build --parallel 2)
run(${CMAKE_COMMAND} --install ${WORK_DIR}/lib-build)

# 2. A host program through find_package.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/app-build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/app-build)
run(${WORK_DIR}/app-build/consumer)

# 3. The same program through add_subdirectory.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/sub-build -G ${GENERATOR}
  -DVELSDK_NURBS_SOURCE_DIR=${SOURCE_DIR})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/sub-build --parallel 2)
run(${WORK_DIR}/sub-build/consumer)

# 4. pkg-config file is installed.
if(NOT EXISTS ${WORK_DIR}/prefix/lib/pkgconfig/velsdk-nurbs.pc AND NOT EXISTS ${WORK_DIR}/prefix/lib64/pkgconfig/velsdk-nurbs.pc)
  file(GLOB_RECURSE pcs ${WORK_DIR}/prefix/*.pc)
  if(NOT pcs)
    message(FATAL_ERROR "pkg-config file not installed")
  endif()
endif()
message(STATUS "consumer builds through find_package and add_subdirectory")
