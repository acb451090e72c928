#include "run/replacement_pass.h"

#include <algorithm>

#include "config/update_config.h"
#include "fs/folder_tree.h"
#include "fs/move_or_defer.h"
#include "fs/path_queries.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"

namespace {

// Appended to a replaced folder's source when it is renamed aside for deletion.
constexpr const char* kAsideSuffix = ".deleted~";

// The name without trailing separators: a configured folder name may end in
// one, and the folder work appends exactly one "/" itself.
std::string without_trailing_separators(const std::string& name) {
  std::string::size_type end = name.find_last_not_of("/\\");
  return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}

// Moves the old entry of a name into the backup folder; false, with a log
// line, when it is still in the way and the name must stay as it is in this
// run.
bool back_up(const std::string& target, const std::string& backup_path, bool old_and_new_are_files) {
  // The backup path may lie below sub-folders of the backup folder (a name
  // such as lib/core.dll): every level up to its last separator must exist,
  // or the old version would have nowhere to go and be lost to the new one.
  // Created only when missing: trying every level of the path for every name
  // would cost one failed creation per level and name.
  std::string backup_parent = folder_part(backup_path);
  if (is_folder(backup_parent.c_str()) != 1) {
    make_folder_path(backup_path.c_str());
    if (is_folder(backup_parent.c_str()) != 1) {
      log_printf("Backup failed, not replaced: %s\n", target.c_str());
      return false;
    }
  }
  if (old_and_new_are_files) {
    // A file in use is queued for the restart, ahead of the new file's move.
    // The outcome shows in the new file's own move, which fails or waits for
    // the restart while the old file still occupies the name.
    move_or_defer(target.c_str(), backup_path.c_str());
    return true;
  }
  // A folder moves now or not at all: moved at the restart, it would take the
  // new files copied into it along into the backup.
  if (platform::move_entry(target.c_str(), backup_path.c_str())) return true;
  log_printf("Folder in use, not replaced: %s\n", target.c_str());
  return false;
}

// Deletes the source of a replaced folder from the unpacked release. The tree
// is first renamed aside within its own folder: a run cut short while deleting
// then leaves a partial tree only under the aside name, which no configured
// name reaches, never a partial source that a rerun would copy over the whole
// new folder. A source that cannot be renamed aside stays whole, and a rerun
// copies the same files again.
void delete_source_folder(const std::string& source_folder) {
  std::string aside = source_folder + kAsideSuffix;
  // A tree left aside by a run cut short goes first; should any of it stay,
  // the rename below fails and the source stays whole.
  if (path_exists(aside.c_str())) delete_folder_tree((aside + "/").c_str());
  if (!platform::move_entry(source_folder.c_str(), aside.c_str())) return;
  // Not looked at: whatever cannot be deleted stays under the aside name, and
  // the application folder already holds the new tree.
  delete_folder_tree((aside + "/").c_str());
}

void replace_folder(const std::string& source_folder, const std::string& target_folder) {
  std::string source = source_folder + "/";
  std::string target = target_folder + "/";
  if (is_folder(target.c_str()) != 1) make_folder_path(target.c_str());
  if (copy_folder_tree(source.c_str(), target.c_str()) != 1) {
    // The unpacked release keeps the only whole copy of the new files.
    log_printf("Copy folder failed: %s\n", source.c_str());
    return;
  }
  delete_source_folder(source_folder);
  log_printf("Copy folder: %s\n", source.c_str());
}

void replace_file(const std::string& source, const std::string& target) {
  // A new file below a sub-folder the application does not have yet needs
  // that folder, or it could never be put in place (created only when missing,
  // as for the backup path).
  if (is_folder(folder_part(target).c_str()) != 1) make_folder_path(target.c_str());
  switch (move_or_defer(source.c_str(), target.c_str())) {
    case MoveOutcome::moved:
      log_printf("Copy file: %s\n", source.c_str());
      break;
    case MoveOutcome::deferred:
      log_printf("Copy file at restart: %s\n", source.c_str());
      break;
    case MoveOutcome::failed:
      log_printf("Copy file failed: %s\n", source.c_str());
      break;
  }
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// A step up: "..", and any step of dots and blanks with two dots or more,
// which Windows may trim to "..".
bool is_step_up(const std::string& step) {
  return step.find_first_not_of(". ") == std::string::npos && std::count(step.begin(), step.end(), '.') >= 2;
}

// Whether a configured name could reach outside the application folder and
// the unpacked release it is joined to: a step up, a leading separator (a
// root or a network path when the folder it is joined to is empty) or a
// drive letter.
bool leads_outside(const std::string& name) {
  if (name.empty()) return false;
  if (is_separator(name[0]) || (name.size() >= 2 && name[1] == ':')) return true;
  std::string::size_type start = 0;
  while (start <= name.size()) {
    std::string::size_type end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    if (is_step_up(name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

void replace_name(const UpdateConfig& config, const std::string& configured_name) {
  if (leads_outside(configured_name)) {
    log_printf("Name refused, it leads outside the application folder: %s\n", configured_name.c_str());
    return;
  }
  std::string source = config.unzip_folder() + configured_name;
  if (!path_exists(source.c_str())) return;  // not part of this release
  // The source's own kind decides, not that of a neighbour whose name begins
  // the same way.
  bool new_is_folder = is_folder(source.c_str()) == 1;
  std::string name = new_is_folder ? without_trailing_separators(configured_name) : configured_name;
  source = config.unzip_folder() + name;
  std::string target = config.app_path + name;

  if (path_exists(target.c_str())) {
    std::string backup_folder = config.app_path + "updateTemp/";
    if (is_folder(backup_folder.c_str()) != 1) make_folder_path(backup_folder.c_str());
    bool old_is_folder = is_folder(target.c_str()) == 1;
    if (!back_up(target, backup_folder + name, !new_is_folder && !old_is_folder)) return;
  }
  if (new_is_folder)
    replace_folder(source, target);
  else
    replace_file(source, target);
}

}  // namespace

void run_replacement_pass(const std::string& run_parameter) {
  UpdateConfig config(run_parameter);
  if (!config.load()) {
    log_printf("Load config file failed.\n");
    return;
  }
  // The backup folder only ever holds what this run moves there.
  std::string backup_folder = config.app_path + "updateTemp/";
  if (is_folder(backup_folder.c_str()) == 1) delete_folder_tree(backup_folder.c_str());
  for (const std::string& name : config.file_names) replace_name(config, name);
}
