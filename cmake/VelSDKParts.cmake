# Which parts of the build are on, and why. A part that is on but cannot be built stops the
# configuration with a message naming the Debian package to install (or the option that turns
# the part off): the test suite never passes by silently leaving a part out.
#
#   velsdk_part(NAME STATE [DETAIL])    records "NAME: STATE (DETAIL)" for the summary
#   velsdk_missing(WHAT PACKAGE OPTION) stops: WHAT is missing, install PACKAGE or set OPTION=OFF
#   velsdk_write_parts()                writes <build>/velsdk-parts.txt (read by scripts/test.sh)
#
# Optional peers of the tests and benchmarks (OpenCASCADE, SISL, Eigen, ...) call
# velsdk_part() too, so that the summary says whether their comparisons ran.

function(velsdk_part name state)
  set(line "${name}: ${state}")
  if(ARGC GREATER 2)
    set(line "${line} (${ARGV2})")
  endif()
  set_property(GLOBAL APPEND PROPERTY VELSDK_PARTS "${line}")
endfunction()

function(velsdk_missing what package option)
  message(FATAL_ERROR
    "${what} not found. Install the Debian package ${package} "
    "(scripts/install-deps.sh installs everything the test suite uses), "
    "or configure with -D${option}=OFF to build without this part.")
endfunction()

function(velsdk_write_parts)
  get_property(parts GLOBAL PROPERTY VELSDK_PARTS)
  string(REPLACE ";" "\n" text "${parts}")
  file(WRITE ${PROJECT_BINARY_DIR}/velsdk-parts.txt "${text}\n")
  foreach(line ${parts})
    message(STATUS "Part ${line}")
  endforeach()
endfunction()
