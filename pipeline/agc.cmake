# The automatic gain control: a C API on a caller-supplied work block (include/agc.h).
add_library(kxagc STATIC
  ${CMAKE_CURRENT_LIST_DIR}/agc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/agc_kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/agc_kernels_avx2.cpp)
target_include_directories(kxagc PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include)
set_target_properties(kxagc PROPERTIES POSITION_INDEPENDENT_CODE ON)
kx_warnings(kxagc)
