# The Windows test programs (included by display/win32/CMakeLists.txt only; never part of the
# Linux tree). Each program is one ctest test run through Wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(ORVENNA_WIN_TEST_DIR ${ORVENNA_ROOT}/tests/windows)

function(orvenna_win_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${ORVENNA_WIN_TEST_DIR} ${ORVENNA_DISPLAY}/include)
  target_compile_definitions(${name} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_compile_options(${name} PRIVATE ${ORVENNA_WIN_WARNINGS})
  target_link_options(${name} PRIVATE ${ORVENNA_WIN_STATIC})
  target_link_libraries(${name} PRIVATE ${T_LIBS} user32 gdi32 kernel32)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed")
endfunction()

orvenna_win_test(orvenna_win_display SOURCES ${ORVENNA_WIN_TEST_DIR}/test_display.cpp LIBS orvenna)
orvenna_win_test(orvenna_win_api_import SOURCES ${ORVENNA_WIN_TEST_DIR}/test_api_import.cpp LIBS orvenna)
# Loads orvenna.dll itself: it links no import library, only needs the headers.
orvenna_win_test(orvenna_win_api_by_name SOURCES ${ORVENNA_WIN_TEST_DIR}/test_api_by_name.cpp)
add_dependencies(orvenna_win_api_by_name orvenna)
