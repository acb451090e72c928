#include "run/replacement_pass.h"

#include <string>
#include <utility>

#include "config/update_config.h"
#include "fs/durability.h"
#include "fs/folder_tree.h"
#include "fs/path_queries.h"
#include "fs/path_text.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"
#include "run/command_line.h"
#include "run/own_release_guard.h"
#include "run/replace_entry.h"

namespace {

// The folder paths of the configuration are joined to names as they stand:
// one that does not end in a separator would put the names beside the folder
// (orbiq_app_path "/opt/myapp" and the name "lib" make "/opt/myapplib"). Such
// a configuration is refused before anything is touched; an empty path is
// the current folder.
bool folder_paths_end_in_separators(const UpdateConfig& config) {
  for (const auto& [key, path] : {std::pair<const char*, const std::string*>{"orbiq_app_path", &config.app_path},
                                  {"update_temp_path", &config.update_temp_path}}) {
    if (path->empty() || platform::is_path_separator(path->back())) continue;
    log_printf("Configuration refused, this folder path does not end in a separator: %s %s\n", key, path->c_str());
    return false;
  }
  return true;
}

// Only one run at a time may update an application folder: a second one
// would empty the backup folder under the first and take its trees. The lock
// is the system's, so a run that ends, however it ends, releases it. A lock
// that cannot be taken for another reason (the folder is missing, say) does
// not stop the run; the log says so.
bool take_run_lock(const std::string& app_path, platform::FolderLock** lock) {
  platform::Status why = platform::kOk;
  // An empty path is the current folder, and that folder is locked.
  *lock = platform::lock_folder(folder_or_current(app_path).c_str(), &why);
  if (*lock) return true;
  if (why.failure == platform::Failure::in_use) {
    log_printf("Another run is updating this application, nothing changed: %s\n", app_path.c_str());
    return false;
  }
  log_printf("Run lock not taken, going on: %s (%s)\n", app_path.c_str(), platform::describe(why).c_str());
  return true;
}

// The backup folder only ever holds what this run moves there.
void empty_backup_folder(const std::string& backup_folder) {
  if (is_folder(backup_folder.c_str()) != 1) return;
  platform::Status why = platform::kOk;
  if (delete_folder_tree(backup_folder.c_str(), &why) != 1)
    log_printf("Backup folder not emptied: %s (%s)\n", backup_folder.c_str(), platform::describe(why).c_str());
}

// Whether the log still takes every line. Once a text could not be written
// (its file system is full, say), no more names change: each name's outcome
// is known only from its line, and a name replaced without one would read
// as not replaced, its new version then backed up as the old by the next
// run. The names left stay as they are, their new versions in the release;
// a line tries to say so (it may be lost too).
bool log_still_written() {
  platform::Status why = platform::kOk;
  if (!log_text_lost(&why)) return true;
  log_printf("Log not written, the names left are not replaced: %s (%s)\n", main_log().file_path,
             platform::describe(why).c_str());
  return false;
}

}  // namespace

void run_replacement_pass(const std::string& run_parameter) {
  UpdateConfig config(run_parameter);
  if (!config.load()) {
    log_printf("Load config file failed.\n");
    return;
  }
  if (!folder_paths_end_in_separators(config)) return;
  platform::FolderLock* lock = nullptr;
  if (!take_run_lock(config.app_path, &lock)) return;
  PassFolders folders = pass_folders(config);
  if (own_release_is_safe(config, folders, log_file_path(data_root_of(run_parameter)))) {
    // The new versions are on the disk before any name changes. Should that
    // fail (logged), the run goes on: what moves by rename stays on its file
    // system, and a copy's source is deleted only once the copy is flushed.
    make_durable(folders.unzip);
    if (log_still_written()) {
      empty_backup_folder(folders.backup);
      clear_work_folders(folders);  // what a run cut short left there
      stage_listed_names(folders, config.file_names);
      for (const std::string& name : config.file_names) {
        if (!log_still_written()) break;
        replace_name(folders, name);
      }
      delete_copied_sources(folders);
      clear_work_folders(folders);
    }
    close_pass_folders(folders);
    // And so is every rename and copy of the pass before it ends; a failure
    // is logged, and there is nothing left to hold back.
    make_durable(folder_or_current(folders.app));
  }
  platform::unlock_folder(lock);
}
