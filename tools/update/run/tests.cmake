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
# Faults of the disk for the real program (a listing or a read that ends
# early, a flush that fails): a library the tests load into it with
# LD_PRELOAD. The Windows build has no such loader; its tests skip.
if(CORVANE_PLATFORM STREQUAL "win32")
  target_compile_definitions(replacement_pass_test PRIVATE CORVANE_FAULT_SHIM="")
else()
  add_library(corvane_fault_shim MODULE platform/fault_shim_posix.cpp)
  target_link_libraries(corvane_fault_shim PRIVATE dl)
  # The library is loaded into every program the tests start, the shell
  # included: it is built without the sanitizers a sanitizer build adds.
  target_compile_options(corvane_fault_shim PRIVATE -fno-sanitize=all)
  target_link_options(corvane_fault_shim PRIVATE -fno-sanitize=all)
  target_compile_definitions(replacement_pass_test PRIVATE CORVANE_FAULT_SHIM="$<TARGET_FILE:corvane_fault_shim>")
  add_dependencies(replacement_pass_test corvane_fault_shim)
endif()
