#include "run/replace_entry.h"

#include <string>

#include "config/update_config.h"
#include "fs/folder_tree.h"
#include "fs/move_or_defer.h"
#include "fs/path_queries.h"
#include "fs/path_text.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"

namespace {

using platform::Failure;
using platform::Status;

// What stands at a path; links are not followed. A device or pipe in the
// release is moved like a file.
enum class Kind { missing, file, folder, link };

Kind kind_of(const std::string& path) {
  std::uint32_t attributes = platform::file_attributes(path.c_str());
  if (attributes == platform::kInvalidAttributes) return Kind::missing;
  if (attributes & platform::kAttrLink) return Kind::link;
  if (attributes & platform::kAttrFolder) return Kind::folder;
  return Kind::file;
}

// Where the old version of a name is while its new one goes in.
enum class OldVersion {
  none,         // the name is new
  backed_up,    // moved into the backup folder now
  still_there,  // could not be moved now (in use): still at its name
};

// One name's paths, all without trailing separators.
struct Entry {
  std::string source;  // the new version, in the release
  std::string target;  // the name in the application folder
  std::string backup;  // the old version's place in the backup folder
  Kind old_kind;       // unknown until asked for
  bool old_known;
};

// The kind of the old entry, asked of the system the first time it matters,
// always while the old entry stands at its name.
Kind old_kind(Entry& entry) {
  if (!entry.old_known) {
    entry.old_kind = kind_of(entry.target);
    entry.old_known = true;
  }
  return entry.old_kind;
}

const char* text(const std::string& s) { return s.c_str(); }

// The reason text of a failure, for the end of its log line.
std::string why(const Status& status) { return platform::describe(status); }

bool same_entry(const std::string& a, const std::string& b) {
  platform::EntryIdentity first;
  platform::EntryIdentity second;
  return platform::entry_identity(a.c_str(), &first).ok() && platform::entry_identity(b.c_str(), &second).ok() &&
         first == second;
}

// Moves the old entry into the backup folder. The move is tried first: for
// the usual name it is all the work there is, and only when it fails is the
// system asked why (no old entry; the backup path's folder missing). A folder
// on either side moves now or not at all: moved at the restart, a folder
// would take the new files copied into it along into the backup. A file that
// cannot be moved now stays for the restart. False, with the log line, when
// the name must stay as it is.
bool back_up(Entry& entry, bool new_is_folder, OldVersion* old_version, Status* backup_failure) {
  Status moved = platform::move_entry(entry.target.c_str(), entry.backup.c_str());
  if (!moved.ok() && moved.failure == Failure::not_found) {
    if (old_kind(entry) == Kind::missing) return true;  // a new name: nothing to back up
    // The folders above the backup path are made when first needed.
    Status made = make_parent_folders(entry.backup);
    if (!made.ok()) {
      log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(made)));
      return false;
    }
    moved = platform::move_entry(entry.target.c_str(), entry.backup.c_str());
  }
  if (moved.ok()) {
    *old_version = OldVersion::backed_up;
    return true;
  }
  if (old_kind(entry) != Kind::folder && !new_is_folder) {
    // Moved at the restart instead: the backup path's folder must be there
    // by then.
    Status made = make_parent_folders(entry.backup);
    if (!made.ok()) {
      log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(made)));
      return false;
    }
    *old_version = OldVersion::still_there;
    *backup_failure = moved;
    return true;
  }
  if (moved.failure == Failure::in_use)
    log_printf("Folder in use, not replaced: %s (%s)\n", text(entry.target), text(why(moved)));
  else
    log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(moved)));
  return false;
}

// Moves the old version back from the backup folder after its new version
// could not be put in place. False, with the line that says where the old
// version is, when it cannot.
bool put_back(const Entry& entry) {
  Status back = platform::move_entry(entry.backup.c_str(), entry.target.c_str());
  if (back.ok()) return true;
  log_printf("Old version not put back, it is in: %s (%s)\n", text(entry.backup), text(why(back)));
  return false;
}

// The name is replaced at the next restart, old version to the backup first,
// where the system can; otherwise it stays as it is.
void replace_file_at_restart(const Entry& entry, const Status& failure_now, bool backup_failed_now) {
  Status request = platform::kOk;
  if (replace_at_restart(entry.target.c_str(), entry.backup.c_str(), entry.source.c_str(), &request) ==
      MoveOutcome::deferred) {
    log_printf("Copy file at restart: %s\n", text(entry.source));
    return;
  }
  // Without a restart service the reason is what failed now.
  const Status& reason = request.failure == Failure::not_supported ? failure_now : request;
  if (backup_failed_now)
    log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(reason)));
  else
    log_printf("Copy file failed: %s (%s)\n", text(entry.source), text(why(reason)));
}

// The folder that holds the name, created when missing. Names of one folder
// usually follow each other in the list: the folder that held the last new
// file is not asked for again. Should it be gone since, the move itself fails
// and tells why.
Status make_target_parent(PassFolders& folders, const Entry& entry) {
  std::string parent = folder_part(entry.target);
  if (parent == folders.parent_made) return platform::kOk;
  Status made = make_parent_folders(entry.target);
  if (made.ok()) folders.parent_made = parent;
  return made;
}

void put_file(PassFolders& folders, Entry& entry, OldVersion old_version, const Status& backup_failure) {
  if (old_version == OldVersion::still_there) {
    replace_file_at_restart(entry, backup_failure, true);
    return;
  }
  // A new file below a sub-folder the application does not have yet needs
  // that folder, or it could never be put in place.
  Status placed = make_target_parent(folders, entry);
  if (old_version == OldVersion::none) {
    // Nothing to put back: a move at the restart leaves no name empty now.
    MoveOutcome outcome = placed.ok() ? move_or_defer(entry.source.c_str(), entry.target.c_str(), &placed)
                                      : MoveOutcome::failed;
    if (outcome == MoveOutcome::moved)
      log_printf("Copy file: %s\n", text(entry.source));
    else if (outcome == MoveOutcome::deferred)
      log_printf("Copy file at restart: %s\n", text(entry.source));
    else
      log_printf("Copy file failed: %s (%s)\n", text(entry.source), text(why(placed)));
    return;
  }
  if (placed.ok()) placed = platform::move_entry(entry.source.c_str(), entry.target.c_str());
  if (placed.ok()) {
    log_printf("Copy file: %s\n", text(entry.source));
    return;
  }
  // The old version goes back before anything else, so that the name is
  // never left empty; a file then waits for the restart like one in use.
  if (!put_back(entry)) {
    log_printf("Copy file failed: %s (%s)\n", text(entry.source), text(why(placed)));
    return;
  }
  if (old_kind(entry) == Kind::folder)  // asked now that it is back in its place
    log_printf("Copy file failed: %s (%s)\n", text(entry.source), text(why(placed)));
  else
    replace_file_at_restart(entry, placed, false);
}

// Deletes the source of a replaced folder from the release. The tree is first
// moved into the pass's set-aside folder: a run cut short while deleting then
// leaves a partial tree only there, which no listed name reaches and the next
// pass clears, never a partial source that a rerun would copy over the whole
// new folder. A source that cannot be moved aside stays whole in the release.
void delete_source_folder(PassFolders& folders, const std::string& source) {
  if (!make_folder(folders.set_aside.c_str())) return;  // not looked at: the source stays whole
  std::string aside = folders.set_aside + std::to_string(++folders.sources_set_aside);
  if (!platform::move_entry(source.c_str(), aside.c_str()).ok()) return;  // as above
  // Not looked at: what cannot be deleted stays in the set-aside folder, and
  // the application folder already holds the new tree.
  delete_folder_tree((aside + "/").c_str());
}

// Puts the new folder in the name's place: with one rename where that gives
// the same result as a copy (the release on the application's file system,
// on POSIX), else by a copy whose source is then deleted. On failure the
// partial copy goes and the old version comes back.
void put_folder(PassFolders& folders, const Entry& entry, OldVersion old_version) {
  std::string source = entry.source + "/";
  std::string target = entry.target + "/";
  // Every missing level above the name first, then the name's own folder:
  // a folder that cannot be made is a copy that failed.
  Status copied = make_parent_folders(entry.target);
  if (copied.ok() && platform::move_folder_into_place(entry.source.c_str(), entry.target.c_str()).ok()) {
    log_printf("Copy folder: %s\n", text(source));
    return;
  }
  if (copied.ok()) copied = make_parent_folders(target);
  if (copied.ok() && copy_folder_tree(source.c_str(), target.c_str(), &copied) == 1) {
    delete_source_folder(folders, entry.source);
    log_printf("Copy folder: %s\n", text(source));
    return;
  }
  // The release keeps the whole new folder: its source is deleted only after
  // a whole copy.
  log_printf("Copy folder failed: %s (%s)\n", text(source), text(why(copied)));
  Status removed = platform::kOk;
  if (kind_of(entry.target) == Kind::folder && delete_folder_tree(target.c_str(), &removed) != 1 &&
      old_version != OldVersion::backed_up)
    log_printf("Partial copy not removed: %s (%s)\n", text(target), text(why(removed)));
  if (old_version == OldVersion::backed_up) put_back(entry);
}

}  // namespace

PassFolders pass_folders(const UpdateConfig& config) {
  PassFolders folders;
  folders.app = config.app_path;
  folders.unzip = config.unzip_folder();
  folders.backup = config.app_path + "updateTemp/";
  folders.set_aside = config.update_temp_path + "deleteTemp/";
  return folders;
}

void replace_name(PassFolders& folders, const std::string& configured_name) {
  if (leads_outside(configured_name)) {
    log_printf("Name refused, it leads outside the application folder: %s\n", text(configured_name));
    return;
  }
  std::string name = without_trailing_separators(configured_name);
  if (passes_through_link(folders.unzip, name)) {
    log_printf("Name refused, it passes through a link: %s\n", text(configured_name));
    return;
  }
  Entry entry;
  entry.source = folders.unzip + name;
  Kind new_kind = kind_of(entry.source);
  if (new_kind == Kind::missing) return;  // not part of this release
  // A name written as a folder names no file.
  if (new_kind == Kind::file && name.size() != configured_name.size()) return;
  if (passes_through_link(folders.app, name)) {
    log_printf("Name refused, it passes through a link: %s\n", text(configured_name));
    return;
  }
  entry.target = folders.app + name;
  entry.backup = folders.backup + name;
  entry.old_known = false;
  const bool new_is_folder = new_kind == Kind::folder;
  // A source that is the target itself (through a link, or a folder mounted
  // twice) would be moved away and then deleted with the release. A file can
  // be the target only as a second name of the same content, which moving
  // leaves whole.
  if (new_kind != Kind::file && old_kind(entry) != Kind::missing && same_entry(entry.source, entry.target)) {
    log_printf("Name refused, source and target are the same entry: %s\n", text(configured_name));
    return;
  }

  OldVersion old_version = OldVersion::none;
  Status backup_failure = platform::kOk;
  if (!back_up(entry, new_is_folder, &old_version, &backup_failure)) return;
  if (new_is_folder)
    put_folder(folders, entry, old_version);
  else
    put_file(folders, entry, old_version, backup_failure);
}

void clear_set_aside(const PassFolders& folders) {
  // Not looked at: what stays is cleared by the next pass.
  if (is_folder(folders.set_aside.c_str()) == 1) delete_folder_tree(folders.set_aside.c_str());
}
