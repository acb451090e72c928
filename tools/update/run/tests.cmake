# The hostile configurations include inputs that once made the program wait
# for ever (a pipe given as the configuration): a run that waits ends the test
# within minutes instead of holding the whole suite.
set_tests_properties(run/hostile_config_test PROPERTIES TIMEOUT 300)
# The start-up test checks the version that --version answers.
target_compile_definitions(run_start_test PRIVATE CORVANE_VERSION="${CORVANE_VERSION}")
