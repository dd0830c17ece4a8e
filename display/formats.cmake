# Frame pixel formats, the frame copy and aspect fitting (portable engine code, no X11), and the
# x11 backend's conversions over libyuv. Included from display/CMakeLists.txt.
find_path(ORVENNA_YUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(ORVENNA_YUV_LIBRARY yuv REQUIRED)

add_library(orvenna_formats STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pixel_formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_copy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fit_aspect.cpp)
target_include_directories(orvenna_formats PUBLIC
  ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/include)
set_target_properties(orvenna_formats PROPERTIES CXX_VISIBILITY_PRESET hidden)
kx_warnings(orvenna_formats)

add_library(orvenna_x11_convert STATIC ${CMAKE_CURRENT_LIST_DIR}/platform/x11_convert.cpp)
target_include_directories(orvenna_x11_convert PUBLIC ${ORVENNA_YUV_INCLUDE_DIR})
target_link_libraries(orvenna_x11_convert PUBLIC orvenna_formats ${ORVENNA_YUV_LIBRARY})
set_target_properties(orvenna_x11_convert PROPERTIES CXX_VISIBILITY_PRESET hidden)
kx_warnings(orvenna_x11_convert)
