# Removes the archives of REPOSITORY whose names are not in KEEP.
cmake_minimum_required(VERSION 3.16)
file(GLOB present RELATIVE ${REPOSITORY} ${REPOSITORY}/*.vtrpkg)
foreach(archive ${present})
  if(NOT archive IN_LIST KEEP)
    file(REMOVE ${REPOSITORY}/${archive})
  endif()
endforeach()
