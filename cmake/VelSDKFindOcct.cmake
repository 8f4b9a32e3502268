# OpenCASCADE as a test and benchmark peer (never a dependency of the library):
#   velsdk_find_occt(VAR lib...)  sets VAR to the list of the libraries' paths and
#                                 VELSDK_OCCT_INCLUDE_DIR, or VAR to "" when any is missing.
function(velsdk_find_occt var)
  find_path(VELSDK_OCCT_INCLUDE_DIR Standard_Version.hxx PATH_SUFFIXES opencascade)
  set(found)
  foreach(lib ${ARGN})
    find_library(VELSDK_OCCT_${lib} ${lib})
    if(NOT VELSDK_OCCT_${lib} OR NOT VELSDK_OCCT_INCLUDE_DIR)
      set(${var} "" PARENT_SCOPE)
      return()
    endif()
    list(APPEND found ${VELSDK_OCCT_${lib}})
  endforeach()
  set(${var} ${found} PARENT_SCOPE)
endfunction()
