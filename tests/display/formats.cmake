# Tests of the pixel formats, the frame copy, aspect fitting and the x11 conversions (no display
# needed). Included from tests/display/CMakeLists.txt; `orvenna_formats` and
# `orvenna_x11_convert` come from display/formats.cmake.
# The backends' surface sizes, which the copy and the conversions must agree with.
set(orvenna_surface_layout ${CMAKE_CURRENT_LIST_DIR}/../../display/platform/surface_layout.cpp)
kx_add_test(test_orvenna_pixel_formats
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_pixel_formats.cpp ${orvenna_surface_layout}
  LIBS orvenna_formats)
kx_add_test(test_orvenna_frame_copy
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_frame_copy.cpp ${orvenna_surface_layout}
  LIBS orvenna_formats)
kx_add_test(test_orvenna_fit_aspect
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fit_aspect.cpp
  LIBS orvenna_formats)
kx_add_test(test_orvenna_x11_convert
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_x11_convert.cpp ${orvenna_surface_layout}
  LIBS orvenna_x11_convert)
