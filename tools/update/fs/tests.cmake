# Windows helper programs for the restart tests (tests/restart/run), built
# beside the test programs:
#   hold_and_run.exe  holds files or folders open (or takes the run lock of
#                     folders) while it runs one exact command line, then
#                     releases them (reusable by any test)
#   move_probe.exe    calls move_or_defer for pairs of paths and prints what
#                     became of each move
if(CORVANE_PLATFORM STREQUAL "win32")
  add_executable(hold_and_run ${CMAKE_SOURCE_DIR}/tests/restart/hold_and_run.cpp)
  target_link_libraries(hold_and_run PRIVATE corvane_test_support)
  add_executable(move_probe ${CMAKE_SOURCE_DIR}/tests/restart/move_probe.cpp)
  target_link_libraries(move_probe PRIVATE corvane_core)
endif()
