# kestrix.exe's tests under Wine (included by app/win32/CMakeLists.txt): the windows' geometry in
# process, and the whole program driven by window messages against the emulator.
set(KX_WIN_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

add_executable(kestrix_win_geometry ${KX_WIN_TEST_DIR}/test_kestrix_geometry.cpp)
target_include_directories(kestrix_win_geometry PRIVATE ${KX_WIN_TEST_DIR})
target_link_libraries(kestrix_win_geometry PRIVATE kxwin32 tarnlink glintra)
add_test(NAME kestrix_win_geometry COMMAND kestrix_win_geometry)
set_tests_properties(kestrix_win_geometry PROPERTIES TIMEOUT 60
  FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed")

if(TARGET kestrix-camsim)
  add_executable(kestrix_win_gui ${KX_WIN_TEST_DIR}/test_kestrix_gui.cpp)
  target_include_directories(kestrix_win_gui PRIVATE ${KX_WIN_TEST_DIR})
  target_compile_definitions(kestrix_win_gui PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE
    KX_KESTRIX="$<TARGET_FILE:kestrix>" KX_CAMSIM="$<TARGET_FILE:kestrix-camsim>"
    KX_TARNLINK="$<TARGET_FILE:tarnlink>" KX_GLINTRA="$<TARGET_FILE:glintra>")
  target_link_libraries(kestrix_win_gui PRIVATE user32 gdi32)
  add_dependencies(kestrix_win_gui kestrix kestrix-camsim)
  add_test(NAME kestrix_win_gui COMMAND kestrix_win_gui)
  set_tests_properties(kestrix_win_gui PROPERTIES TIMEOUT 120
    FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed")
endif()
