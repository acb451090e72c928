# The hostile configurations include inputs that once made the program wait
# for ever (a pipe given as the configuration): a run that waits ends the test
# within minutes instead of holding the whole suite. The Windows build may run
# in an emulated machine (scripts/in-guest), where its million-name case alone
# takes about seven minutes.
if(CORVANE_PLATFORM STREQUAL "win32")
  set_tests_properties(run/hostile_config_test PROPERTIES TIMEOUT 1200)
else()
  set_tests_properties(run/hostile_config_test PROPERTIES TIMEOUT 300)
endif()
# The start-up test checks the version that --version answers.
target_compile_definitions(run_start_test PRIVATE CORVANE_VERSION="${CORVANE_VERSION}")
