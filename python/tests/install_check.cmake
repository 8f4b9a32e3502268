# Installs the build tree into a scratch prefix and imports the installed velsdk_nurbs with
# /usr/bin/python3, the way the README tells users to (checks the install rule and RPATH).
# Arguments: BINARY_DIR, PREFIX, PACKAGE_DIR (relative to PREFIX), PYTHON.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${PREFIX}/${PACKAGE_DIR}
          ${PYTHON} -c "import velsdk_nurbs as vn, sys; c = vn.interpolate([[0,0,0],[1,1,0],[2,0,0],[3,1,1]]); assert vn.__file__.startswith(sys.argv[1]), vn.__file__; print(c)" ${PREFIX}
  WORKING_DIRECTORY ${PREFIX}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "importing the installed velsdk_nurbs failed (${rc})")
endif()
