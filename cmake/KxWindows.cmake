# Settings of the Windows build (MinGW-w64, cmake/mingw-w64-x86_64.cmake).
#
# kx_win_target(TARGET [STRICT])
#   Windows headers without their rarely used parts and min/max macros, and the C++ runtime linked
#   statically, so that a program needs nothing beside it but system DLLs and our own. STRICT adds
#   the warning set that Orvenna's Windows build has always been held to.
# kx_win_test(NAME SOURCES ... LIBS ... [TIMEOUT s])
#   A Windows test program on GoogleTest, one ctest test, run through Wine
#   (CMAKE_CROSSCOMPILING_EMULATOR); it fails when it exits non-zero.
# kx_win_dist(TARGET ...)
#   The folder dist/ in the build tree with those of the targets that exist, for a Windows machine
#   with nothing installed, and kestrix-windows.zip of it; built with everything else.
set(KX_WIN_STRICT_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror)
set(KX_WIN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

function(kx_win_target target)
  cmake_parse_arguments(W "STRICT" "" "" ${ARGN})
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  if(W_STRICT)
    target_compile_options(${target} PRIVATE ${KX_WIN_STRICT_WARNINGS})
  else()
    kx_warnings(${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY")
    target_link_options(${target} PRIVATE ${KX_WIN_STATIC_RUNTIME})
  endif()
endfunction()

function(kx_win_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/windows)
  kx_win_target(${name} STRICT)
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest user32 gdi32 kernel32)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

function(kx_win_dist)
  set(files)
  set(targets)
  foreach(target ${ARGN})
    if(TARGET ${target})
      list(APPEND files $<TARGET_FILE:${target}>)
      list(APPEND targets ${target})
    endif()
  endforeach()
  set(dist ${CMAKE_BINARY_DIR}/dist)
  add_custom_target(dist ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dist}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dist}
    COMMAND ${CMAKE_COMMAND} -E copy ${files} ${dist}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/kestrix-windows.zip --format=zip dist
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    VERBATIM)
  add_dependencies(dist ${targets})
endfunction()
