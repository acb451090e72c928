# The program's sources, named once. The product library of every build, the
# program itself and the fuzz build take them from here. Paths are relative
# to tools/update; CORVANE_PLATFORM (posix or win32) picks the platform layer.

set(corvane_core_sources
  config/update_config.cpp
  fs/durability.cpp
  fs/folder_tree.cpp
  fs/move_or_defer.cpp
  fs/path_queries.cpp
  fs/path_text.cpp
  fs/wininit.cpp
  log/diagnostic_log.cpp
  run/command_line.cpp
  run/no_parameter.cpp
  run/own_release_guard.cpp
  run/replace_entry.cpp
  run/replacement_pass.cpp
  run/run.cpp
  run/terminal_options.cpp
  shell/shell_folders.cpp
  platform/status_text.cpp
  platform/platform_${CORVANE_PLATFORM}.cpp
  platform/fault_guard_${CORVANE_PLATFORM}.cpp
  platform/user_folders_${CORVANE_PLATFORM}.cpp)
if(CORVANE_PLATFORM STREQUAL "win32")
  list(APPEND corvane_core_sources platform/links_win32.cpp)
endif()

# The process entry, outside the library: test and fuzz programs bring their own.
set(corvane_main_source run/main.cpp)

# What only tests link: helpers for temporary trees, held files and started
# programs.
set(corvane_test_support_sources
  platform/test_support.cpp
  platform/test_support_${CORVANE_PLATFORM}.cpp
  testing/log_lines.cpp
  testing/trees.cpp)

# One test program per file, named after it, grouped by room.
set(corvane_test_sources
  config/configuration_doc_test.cpp
  config/update_config_test.cpp
  fs/folder_tree_test.cpp
  fs/is_nt_platform_test.cpp
  fs/move_or_defer_test.cpp
  fs/path_queries_test.cpp
  fs/path_text_test.cpp
  fs/wininit_test.cpp
  log/diagnostic_log_test.cpp
  run/command_line_test.cpp
  run/hostile_config_test.cpp
  run/replacement_pass_test.cpp
  run/run_no_parameter_test.cpp
  run/run_start_test.cpp
  shell/shell_folders_test.cpp)
