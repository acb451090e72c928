# The shipped program's own versions of the Unicode functions that Windows 9x
# has only as failing stubs (wide_functions_win32.cpp), tested in a program
# that links them as corvane.exe does, so that its calls go through them too.
if(CORVANE_PLATFORM STREQUAL "win32")
  add_executable(wide_functions_test platform/wide_functions_win32_test.cpp platform/wide_functions_win32.cpp)
  target_link_libraries(wide_functions_test PRIVATE corvane_test_support GTest::gtest_main)
  add_test(NAME platform/wide_functions_test COMMAND wide_functions_test)
  set_tests_properties(platform/wide_functions_test PROPERTIES ENVIRONMENT "WINEPREFIX=${corvane_wine_prefix}")
endif()
