# kx_add_subfolders(): adds every folder below the current one that has a CMakeLists.txt, in name
# order, so that each subsystem brings its own tests, benchmarks, fuzz targets or tools. A folder
# added later is picked up by the next build of an existing tree.
macro(kx_add_subfolders)
  file(GLOB _kx_subdirs LIST_DIRECTORIES true CONFIGURE_DEPENDS
       RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _kx_subdirs)
  foreach(_kx_dir ${_kx_subdirs})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_kx_dir}/CMakeLists.txt)
      add_subdirectory(${_kx_dir})
    endif()
  endforeach()
endmacro()
