#include "run/replace_entry.h"

#include <map>
#include <string>
#include <vector>

#include "config/update_config.h"
#include "fs/durability.h"
#include "fs/folder_tree.h"
#include "fs/move_or_defer.h"
#include "fs/path_queries.h"
#include "fs/path_text.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"

namespace {

using platform::Failure;
using platform::Status;

// The folders of the update's own in the application folder. No listed name
// may lead into them.
const char* const kBackupFolder = "updateTemp/";
const char* const kStageFolder = "updateStage/";
const char* const kPendingFolder = "updatePending/";

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
  none,       // the name is new
  backed_up,  // moved into the backup folder now
  in_use,     // could not be moved now (a sharing violation): still at its name
};

// One name's paths, all without trailing separators.
struct Entry {
  std::string name;    // as listed, below the application and the release
  std::string source;  // the new version, in the release
  std::string target;  // the name in the application folder
  std::string backup;  // the old version's place in the backup folder
  Kind new_kind;
  Kind old_kind;  // unknown until asked for
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

// The new version on its way in: the release's own entry, or a whole copy of
// it in the stage folder.
struct Incoming {
  std::string path;
  bool staged;
  platform::EntryIdentity copied;  // a staged file: the release's file that was read
  platform::TargetFolder* folder;  // where it is: the release's or the stage's open folder
  std::string steps;               // ... and below it
  platform::EntryIdentity made;    // a staged copy: the entry made in the stage
  platform::Place place() const { return {folder, steps.c_str()}; }
};

}  // namespace

// A copy staged ahead of its name's turn, with how its copy and the flush
// of the stage ended; and a source to delete once its copy is on the disk.
// Kept small: a pass may hold one of each for every listed name.
struct StagedCopy {
  std::string staged;  // its name in the stage
  platform::EntryIdentity copied, made;
  Status status;
};
struct CopiedSource {
  std::string name;
  Kind new_kind;
  platform::EntryIdentity copied;
};
struct PassBatch {
  std::map<std::string, StagedCopy> staged;  // by name_key
  std::vector<CopiedSource> sources;
};

namespace {

// A folder the run was given, opened once when first needed (a link in its
// path is where the configuration leads). Null, with the reason in *why,
// when it cannot be.
platform::TargetFolder* given_folder(platform::TargetFolder** open, const std::string& path, Status* why) {
  if (!*open) *open = platform::open_given_folder(path.c_str(), why);
  return *open;
}

// The application folder, made when missing (a new install).
platform::TargetFolder* app_folder(PassFolders& folders, Status* why) {
  if (!folders.app_open && !folders.app.empty() && is_folder(folders.app.c_str()) != 1)
    make_folder_path(folders.app.c_str());  // not looked at: the open below fails with the reason
  return given_folder(&folders.app_open, folders.app, why);
}

// A work folder of the pass, name in the open folder parent, made when first
// needed and opened once: what goes into it reaches the folder that was
// opened, and a link put in its place is refused, never followed.
platform::TargetFolder* work_folder(platform::TargetFolder** open, platform::TargetFolder* parent, const char* name,
                                    Status* why) {
  if (*open || !parent) return *open;
  Status made = platform::create_folder_at({parent, name});
  if (!made.ok() && made.failure != Failure::exists) {
    *why = made;
    return nullptr;
  }
  *open = platform::open_target_folder_at({parent, name}, why);
  return *open;
}

platform::TargetFolder* backup_folder(PassFolders& folders, Status* why) {
  return work_folder(&folders.backup_open, app_folder(folders, why), "updateTemp", why);
}

platform::TargetFolder* stage_folder(PassFolders& folders, Status* why) {
  return work_folder(&folders.stage_open, app_folder(folders, why), "updateStage", why);
}

platform::TargetFolder* pending_folder(PassFolders& folders, Status* why) {
  return work_folder(&folders.pending_open, app_folder(folders, why), "updatePending", why);
}

platform::TargetFolder* set_aside_folder(PassFolders& folders, Status* why) {
  return work_folder(&folders.set_aside_open, given_folder(&folders.update_temp_open, folders.update_temp, why),
                     "deleteTemp", why);
}

// Whether the new version is still where it was made: a staged copy must be
// the entry that was made in the stage, since someone who may write there
// could have put another in its place. The release's own entry is the
// release's; where the system cannot tell what was made (Windows), the
// stage's entry is taken as it stands.
Status still_where_made(const Incoming& incoming) {
  if (!incoming.staged || incoming.made == platform::kUnknownIdentity) return platform::kOk;
  platform::EntryIdentity now;
  Status known = platform::identity_at(incoming.place(), &now);
  if (known.ok() && !(now == incoming.made)) known = Status{Failure::replaced, 0};
  return known;
}

// Renames the new version to its name, only while it is still where it was
// made: to a name left free, or over the old version (a file or link) in
// the same step.
enum class Into { free_name, over_old };
Status move_in(const PassFolders& folders, const Entry& entry, const Incoming& incoming, Into into) {
  Status moved = still_where_made(incoming);
  const platform::Place name = {folders.app_open, entry.name.c_str()};
  if (moved.ok())
    moved = into == Into::over_old ? platform::move_entry_over(incoming.place(), name)
                                   : platform::move_entry_between(incoming.place(), name);
  return moved;
}

// Makes each missing folder above the last step of steps, below folder,
// outermost first. The first failure, other than a folder already there.
Status make_parents_at(platform::TargetFolder* folder, const std::string& steps) {
  for (std::size_t end = 1; end < steps.size(); ++end) {
    if (!platform::is_path_separator(steps[end]) || platform::is_path_separator(steps[end - 1])) continue;
    const std::string part = steps.substr(0, end);
    Status made = platform::create_folder_at({folder, part.c_str()});
    if (!made.ok() && made.failure != Failure::exists) return made;
  }
  return platform::kOk;
}

// How a swap ended: done (its outcome line is written), or undone because the
// release's entry cannot be renamed to the name after all (a volume is
// mounted in the application folder), so that a staged copy must go in.
enum class Swap { done, needs_copy };

const char* text(const std::string& s) { return s.c_str(); }

// The reason text of a failure, for the end of its log line.
std::string why(const Status& status) { return platform::describe(status); }

// Whether the new entry is the old one itself. Two links are compared as
// links: one entry only when they are the same link, however alike what they
// point to (a package's "localtime -> /etc/localtime" in both versions).
// Otherwise what a link points to is compared, so that a release link into
// the application is recognised.
bool same_entry(const Entry& entry) {
  auto identity = entry.new_kind == Kind::link && entry.old_kind == Kind::link ? platform::link_identity
                                                                                  : platform::entry_identity;
  platform::EntryIdentity first;
  platform::EntryIdentity second;
  return identity(entry.source.c_str(), &first).ok() && identity(entry.target.c_str(), &second).ok() &&
         first == second;
}

// Whether a listed name leads into one of the update's own folders: in any
// letter case (Windows names are case-blind), and where such a folder exists,
// by any other spelling that names it (a short alias such as UPDATE~1).
bool is_update_folder(const PassFolders& folders, const std::string& name) {
  std::string first = name.substr(0, name.find_first_of("/\\"));
  if (platform::may_be_short_alias(first)) {
    for (const std::string* own : {&folders.backup, &folders.stage, &folders.pending}) {
      if (platform::same_existing_entry((folders.app + first).c_str(), without_trailing_separators(*own).c_str()))
        return true;
    }
  }
  for (const char* folder : {kBackupFolder, kStageFolder, kPendingFolder}) {
    std::string own = without_trailing_separators(folder);
    if (first.size() != own.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < own.size(); ++i) {
      char c = first[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      char o = own[i];
      if (o >= 'A' && o <= 'Z') o = static_cast<char>(o - 'A' + 'a');
      same = c == o;
    }
    if (same) return true;
  }
  return false;
}

// A listed name as the system tells names apart: without the separators at
// its end, every separator "/", letters folded where case is ignored.
std::string name_key(const std::string& name) {
  std::string key = without_trailing_separators(name);
  for (char& c : key) {
    if (platform::is_path_separator(c)) c = '/';
    if (platform::names_are_case_blind() && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

void log_copy_failed(const Entry& entry, bool is_folder, const Status& reason) {
  if (is_folder)
    log_printf("Copy folder failed: %s/ (%s)\n", text(entry.source), text(why(reason)));
  else
    log_printf("Copy file failed: %s (%s)\n", text(entry.source), text(why(reason)));
}

// Copies the new version to place, whose path is path: a folder's whole
// tree, a link as the link (which fails where the system makes no links),
// else the file. made gets the identity of what was made, known from the
// handle it was filled through where the system tells it.
Status copy_new_version(const Entry& entry, bool is_folder, const platform::Place& place, const std::string& path,
                        platform::EntryIdentity* copied, platform::EntryIdentity* made) {
  if (is_folder) {
    Status done = platform::create_folder_at(place);
    platform::TargetFolder* target = done.ok() ? platform::open_target_folder_at(place, &done) : nullptr;
    if (target) done = platform::target_folder_identity(target, made);
    if (target && done.ok()) copy_folder_tree_into((entry.source + "/").c_str(), target, (path + "/").c_str(), &done);
    platform::close_target_folder(target);
    return done;
  }
  if (entry.new_kind == Kind::link) {
    Status done = platform::copy_link_to(entry.source.c_str(), place);
    // A link cannot be opened: its identity is asked for at once.
    if (done.ok()) done = platform::identity_at(place, made);
    return done;
  }
  return platform::copy_file_to(entry.source.c_str(), place, copied, made);
}

// Copies the new version into the stage folder, on the application's volume:
// every byte, the modes and the times, while the old version stays at its
// name. The copy's failure, with no line; *incoming names the copy when it
// is made.
Status copy_into_stage(PassFolders& folders, const Entry& entry, bool is_folder, Incoming* incoming) {
  Status copied = platform::kOk;
  platform::TargetFolder* stage = stage_folder(folders, &copied);
  // Each copy gets a name of its own there, which nothing stands at yet
  // (what an earlier run left may not have been emptied).
  std::string staged;
  do staged = std::to_string(++folders.staged);
  while (stage && platform::entry_exists_at({stage, staged.c_str()}));
  platform::EntryIdentity read = platform::kUnknownIdentity;
  platform::EntryIdentity made = platform::kUnknownIdentity;
  if (stage)
    copied = copy_new_version(entry, is_folder, {stage, staged.c_str()}, folders.stage + staged, &read, &made);
  if (stage && copied.ok()) *incoming = {folders.stage + staged, true, read, stage, staged, made};
  // What a failed copy left in the stage goes with the stage folder at the
  // end of the run (whose line says so when it cannot): deleted through
  // that folder's path, checked there not to be a link, never now through a
  // path that a link put in the stage's place could lead outside.
  return copied;
}

// Copies the new version into the stage and makes it whole on the disk
// there. False, with the failure line, when it cannot.
bool stage(PassFolders& folders, const Entry& entry, bool is_folder, Incoming* incoming) {
  Status copied = copy_into_stage(folders, entry, is_folder, incoming);
  // On the disk before the old version moves: a rename that lands before
  // the copy's data would leave the name empty after a power cut. A copy
  // that cannot be flushed fails like one that cannot be made, and the old
  // version stays.
  if (copied.ok()) copied = make_durable(folders.stage);
  if (copied.ok()) return true;
  log_copy_failed(entry, is_folder, copied);
  return false;
}

// Moves the old entry into the backup folder. The move is tried first: for
// the usual name it is all the work there is, and only when it fails is the
// system asked why (no old entry; the backup path's folder missing). A folder
// on either side moves now or not at all: moved at the restart, a folder
// would take the new files copied into it along into the backup. A file in
// use (a sharing violation) stays for the restart; any other failure leaves
// the name as it is. False, with the log line, when the name must stay.
bool back_up(PassFolders& folders, Entry& entry, bool new_is_folder, OldVersion* old_version, Status* in_use) {
  // A path that would not fit is refused, never cut (the names in the
  // backup folder are the longest).
  if (entry.backup.size() >= platform::kPathMax) {
    log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(platform::too_long())));
    return false;
  }
  // The backup folder is made when the first old version needs it.
  if (!folders.backup_open && old_kind(entry) == Kind::missing) return true;  // a new name: nothing to back up
  Status moved = platform::kOk;
  platform::TargetFolder* backup = backup_folder(folders, &moved);
  if (!backup) {
    log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(moved)));
    return false;
  }
  const platform::Place target = {folders.app_open, entry.name.c_str()};
  const platform::Place backup_place = {backup, entry.name.c_str()};
  moved = platform::move_entry_between(target, backup_place);
  if (!moved.ok() && moved.failure == Failure::not_found) {
    if (old_kind(entry) == Kind::missing) return true;  // a new name: nothing to back up
    // The folders above the backup path are made when first needed.
    Status made = make_parents_at(backup, entry.name);
    if (!made.ok()) {
      log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(made)));
      return false;
    }
    moved = platform::move_entry_between(target, backup_place);
  }
  if (moved.ok()) {
    *old_version = OldVersion::backed_up;
    return true;
  }
  const bool folder_involved = old_kind(entry) == Kind::folder || new_is_folder;
  if (moved.failure == Failure::in_use && !folder_involved && has_restart_moves()) {
    // Moved at the restart instead: the backup path's folder must be there
    // by then.
    Status made = make_parents_at(backup, entry.name);
    if (!made.ok()) {
      log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(made)));
      return false;
    }
    *old_version = OldVersion::in_use;
    *in_use = moved;
    return true;
  }
  if (moved.failure == Failure::in_use && folder_involved)
    log_printf("Folder in use, not replaced: %s (%s)\n", text(entry.target), text(why(moved)));
  else
    log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(moved)));
  return false;
}

// Gives the old version of a file (or link) a second name in the backup
// folder, where the system makes such names, so that the new version can
// be renamed over it: the name is never absent, not even at a power cut
// between the two steps (then both names hold the old version). False, with
// nothing changed, where it cannot; the two renames of back_up are made
// then, and that road tells any failure.
bool old_kept_beside(PassFolders& folders, Entry& entry) {
  const Kind old = old_kind(entry);
  if ((old != Kind::file && old != Kind::link) || entry.backup.size() >= platform::kPathMax) return false;
  Status why = platform::kOk;
  platform::TargetFolder* backup = backup_folder(folders, &why);
  if (!backup) return false;
  const platform::Place target = {folders.app_open, entry.name.c_str()};
  const platform::Place second = {backup, entry.name.c_str()};
  Status linked = platform::link_entry_between(target, second);
  if (linked.failure == Failure::not_found && make_parents_at(backup, entry.name).ok())
    linked = platform::link_entry_between(target, second);
  return linked.ok();
}

// Removes the old version's second name from the backup folder after the
// new version could not replace it: the old version never left its name.
// Should the second name stay, the next run's emptying of the backup takes
// it; the old version is whole at its name either way.
void drop_second_name(const PassFolders& folders, const Entry& entry) {
  Status dropped = platform::delete_file_at({folders.backup_open, entry.name.c_str()});
  if (!dropped.ok())
    log_printf("Work folder not emptied: %s (%s)\n", text(entry.backup), text(why(dropped)));
}

// How the new version went in where it could replace the old one in one
// step. done: it stands at its name, the old version in the backup folder.
// failed: the old version stayed at its name; the failure says why. not_made:
// nothing changed, and the two renames of back_up are to be made.
enum class OneStep { done, failed, not_made };

// Where a staged copy waits in the backup folder while it is swapped with
// its old entry, one at a time: no listed name's backup path can take it,
// since no listed name may be a folder of the update's own.
const char* const kWaitingInBackup = "updateStage";

// Swaps a whole staged copy with the old entry, whatever their kinds: the
// copy goes first into the backup folder, the two are then exchanged, and
// the old version goes on to its backup path. So the name holds the old
// version until it holds the new one. A run cut short before the swap
// leaves the copy in the backup folder, which the next run empties, while
// the release still holds its source; one cut short just after it leaves
// the old version in the backup folder, at kWaitingInBackup. A copy never
// waits at a backup path itself: whoever keeps the backups (an updater
// merging those of two attempts) finds only old versions there. Only a
// staged copy takes this road: the release's own entry, left in the backup
// folder, would be lost with it.
OneStep old_exchanged_into_backup(PassFolders& folders, Entry& entry, const Incoming& incoming, Status* failure) {
  if (!folders.exchanges || !incoming.staged || old_kind(entry) == Kind::missing ||
      entry.backup.size() >= platform::kPathMax)
    return OneStep::not_made;
  Status opened = platform::kOk;
  platform::TargetFolder* backup = backup_folder(folders, &opened);
  // A backup path taken, or whose folder cannot be made: the two renames of
  // back_up tell why.
  if (!backup || platform::entry_exists_at({backup, entry.name.c_str()}) || !make_parents_at(backup, entry.name).ok())
    return OneStep::not_made;
  *failure = still_where_made(incoming);
  if (!failure->ok()) return OneStep::failed;
  const platform::Place waiting = {backup, kWaitingInBackup};
  if (!platform::move_entry_between(incoming.place(), waiting).ok()) return OneStep::not_made;  // as above
  // What waits in the backup folder must still be the copy: the backup
  // folder may be written by others too.
  Incoming moved = incoming;
  moved.folder = backup;
  moved.steps = kWaitingInBackup;
  const platform::Place name = {folders.app_open, entry.name.c_str()};
  *failure = still_where_made(moved);
  if (failure->ok()) *failure = platform::exchange_entries(waiting, name);
  if (failure->ok()) {
    *failure = platform::move_entry_between(waiting, {backup, entry.name.c_str()});
    if (failure->ok()) return OneStep::done;
    // The old version cannot reach its backup path: the swap is undone.
    Status undone = platform::exchange_entries(waiting, name);
    if (!undone.ok()) {
      log_printf("Old version not put back, it is in: %s%s (%s)\n", text(folders.backup), kWaitingInBackup,
                 text(why(undone)));
      *failure = platform::kOk;  // the name holds the new version
      return OneStep::done;
    }
  }
  if (failure->failure == Failure::not_supported) folders.exchanges = false;  // this file system has no swap
  // The copy goes back to the stage, and the two renames are made, which
  // tell what stands in the way. Should it not go back, it stays in the
  // backup folder, which the next run empties; the release keeps its source.
  Status back = platform::move_entry_between(waiting, incoming.place());
  if (back.ok()) return OneStep::not_made;
  log_printf("Work folder not emptied: %s%s (%s)\n", text(folders.backup), kWaitingInBackup, text(why(back)));
  return OneStep::failed;
}

// Puts the new version in while the old one keeps its name until then: over
// a second name of the old file (or link), or by a swap with the old entry.
OneStep replaced_in_one_step(PassFolders& folders, Entry& entry, const Incoming& incoming, Status* placed) {
  if (entry.new_kind == Kind::folder || !old_kept_beside(folders, entry))
    return old_exchanged_into_backup(folders, entry, incoming, placed);
  // The name holds the old version until the new one replaces it.
  *placed = move_in(folders, entry, incoming, Into::over_old);
  if (placed->ok()) return OneStep::done;
  drop_second_name(folders, entry);
  // An old file in use, where it may wait for the restart, takes the road of
  // the two renames, which keeps its backup for the restart.
  return placed->failure == Failure::in_use && has_restart_moves() ? OneStep::not_made : OneStep::failed;
}

// Moves the old version back from the backup folder after its new version
// could not be put in place. Where that fails too, the NT line moves it back
// at the restart; elsewhere the line names where it is. False when it is not
// back at its name now.
bool put_back(const PassFolders& folders, const Entry& entry) {
  Status back = platform::move_entry_between({folders.backup_open, entry.name.c_str()},
                                             {folders.app_open, entry.name.c_str()});
  if (back.ok()) return true;
  if (is_nt_platform() && platform::move_entry_at_restart(entry.backup.c_str(), entry.target.c_str(), false).ok())
    log_printf("Old version put back at the restart: %s (%s)\n", text(entry.backup), text(why(back)));
  else
    log_printf("Old version not put back, it is in: %s (%s)\n", text(entry.backup), text(why(back)));
  return false;
}

// The name is replaced at the next restart, its old version (if any) moved to
// the backup first, where the system can; otherwise it stays as it is. A
// restart move never crosses volumes, and the stage folder is emptied when
// the run ends: a staged copy waits in the pending folder, which no run
// empties, and is deleted at the restart should its move not be made.
void replace_file_at_restart(PassFolders& folders, const Entry& entry, const Incoming& incoming,
                             OldVersion old_version, const Status& failure_now) {
  Status request = platform::kOk;
  std::string from = incoming.path;
  std::string parked;  // the copy's name in the pending folder
  if (incoming.staged && has_restart_moves()) {
    platform::TargetFolder* pending = pending_folder(folders, &request);
    // The pending folder's names are never used twice: an earlier run's copy
    // may wait there for the same restart.
    unsigned counter = 0;
    if (pending) request = still_where_made(incoming);
    if (pending && request.ok()) {
      do {
        parked = std::to_string(++counter);
        request = platform::move_entry_between(incoming.place(), {pending, parked.c_str()});
      } while (request.failure == Failure::exists);
    }
    if (!request.ok()) {
      log_copy_failed(entry, false, request);
      return;
    }
    from = folders.pending + parked;
  }
  const char* backup = old_version == OldVersion::none ? nullptr : entry.backup.c_str();
  if (has_restart_moves() &&
      replace_at_restart(entry.target.c_str(), backup, from.c_str(), &request) == MoveOutcome::deferred) {
    // Not looked at: without it, a copy whose move is skipped at the restart
    // stays in the pending folder, which harms nothing.
    if (incoming.staged && is_nt_platform()) platform::delete_at_restart(from.c_str());
    log_printf("Copy file at restart: %s\n", text(entry.source));
    return;
  }
  if (!has_restart_moves()) {
    // Without a restart service the reason is what failed now.
    if (old_version == OldVersion::in_use)
      log_printf("Backup failed, not replaced: %s (%s)\n", text(entry.target), text(why(failure_now)));
    else
      log_copy_failed(entry, false, failure_now);
    return;
  }
  // The system refused the request (on the NT line it takes one from an
  // administrator only): nothing waits for the restart, so the copy parked
  // for it goes, while the release keeps its source and the old version
  // stays at its name.
  if (!parked.empty()) {
    Status removed = platform::delete_file_at({folders.pending_open, parked.c_str()});
    if (!removed.ok()) log_printf("Work folder not emptied: %s (%s)\n", text(from), text(why(removed)));
  }
  log_printf("Restart move refused, not replaced: %s (%s)\n", text(entry.target), text(why(request)));
}

// The folder that holds the name, created when missing. Names of one folder
// usually follow each other in the list: the folder that held the last new
// file is not asked for again. Should it be gone since, the move itself fails
// and tells why.
Status make_target_parent(PassFolders& folders, const Entry& entry) {
  std::string parent = folder_part(entry.target);
  if (parent == folders.parent_made) return platform::kOk;
  Status made = platform::kOk;
  if (app_folder(folders, &made)) made = make_parents_at(folders.app_open, entry.name);
  if (made.ok()) folders.parent_made = parent;
  return made;
}

// Deletes the source of a replaced folder from the release. The tree is first
// moved into the pass's set-aside folder: a run cut short while deleting then
// leaves a partial tree only there, which no listed name reaches and the next
// pass clears, never a partial source that a rerun would copy over the whole
// new folder. A source that cannot be moved aside stays whole in the release.
void delete_source_folder(PassFolders& folders, const Entry& entry) {
  Status unused = platform::kOk;
  platform::TargetFolder* set_aside = set_aside_folder(folders, &unused);
  if (!set_aside) return;  // not looked at: the source stays whole
  const std::string number = std::to_string(++folders.sources_set_aside);
  std::string aside = folders.set_aside + number;
  if (!platform::move_entry_between({folders.release_open, entry.name.c_str()}, {set_aside, number.c_str()}).ok())
    return;  // as above
  // Not looked at: what cannot be deleted stays in the set-aside folder, which
  // the end of the run empties, and the application already holds the new tree.
  delete_folder_tree((aside + "/").c_str());
}

// Whether the release's file is still the one that was copied: another
// process may have put a file of its own in its place (renamed over it)
// while the copy was made. That file is not the one that went in, and it
// stays. True where the system could not tell what was copied (Windows 9x).
bool still_the_copied_file(const Entry& entry, const platform::EntryIdentity& copied) {
  if (copied == platform::kUnknownIdentity) return true;
  platform::EntryIdentity now;
  Status known = platform::link_identity(entry.source.c_str(), &now);
  if (known.ok() && now == copied) return true;
  if (known.failure != Failure::not_found)  // a file gone needs no line: there is nothing to keep
    log_printf("Source kept, it is not the file that was copied: %s\n", text(entry.source));
  return false;
}

// Deletes the source of a file whose copy went in. Not looked at: a source
// that stays is a whole copy of what now stands at the name.
void delete_source_file(const Entry& entry, const Incoming& incoming) {
  if (entry.new_kind == Kind::link) {
    platform::remove_link(entry.source.c_str());
    return;
  }
  if (!still_the_copied_file(entry, incoming.copied)) return;
  platform::set_normal_attributes(entry.source.c_str());
  platform::delete_file(entry.source.c_str());
}

// Deletes the source of a copy that went in, once the rename that put the
// copy in place is on the disk: the source may lie on another file system,
// whose deletion could reach its disk first. When that flush fails, the
// source stays: after a power cut it may be the only whole new version.
void delete_source_of_copy(PassFolders& folders, const Entry& entry, const Incoming& incoming, bool is_folder) {
  if (!make_durable(folder_or_current(folders.app)).ok()) {
    log_printf("Source kept, the new version is not known to be on the disk: %s%s\n", text(entry.source),
               is_folder ? "/" : "");
    return;
  }
  if (is_folder)
    delete_source_folder(folders, entry);
  else
    delete_source_file(entry, incoming);
}

// What the rename of a new version into its place leads to. Renamed in: the
// source of a copy goes, and the outcome line is written. Not renamed in:
// the old version goes back first; should it not, the outcome line is
// written too. Otherwise the caller decides, from the rename's failure:
// another volume after all (needs_copy), or any other (fails_now).
enum class Renamed { done, needs_copy, fails_now };

Renamed after_rename(PassFolders& folders, Entry& entry, const Incoming& incoming, bool is_folder,
                     OldVersion old_version, const Status& placed) {
  if (placed.ok()) {
    if (incoming.staged && folders.batch)
      folders.batch->sources.push_back({entry.name, entry.new_kind, incoming.copied});
    else if (incoming.staged)
      delete_source_of_copy(folders, entry, incoming, is_folder);
    if (is_folder)
      log_printf("Copy folder: %s/\n", text(entry.source));
    else
      log_printf("Copy file: %s\n", text(entry.source));
    return Renamed::done;
  }
  if (old_version == OldVersion::backed_up && !put_back(folders, entry)) {
    log_copy_failed(entry, is_folder, placed);
    return Renamed::done;
  }
  if (placed.failure == Failure::other_volume && !incoming.staged) return Renamed::needs_copy;
  return Renamed::fails_now;
}

// Puts the new file in the name's place: in one step where it can (see
// replaced_in_one_step), else the old version into the backup, then the new
// one in with one rename. When that rename fails, the old version goes back
// before anything else; a new file in use (a scanner holds it) then waits
// for the restart like an old one in use.
Swap swap_file(PassFolders& folders, Entry& entry, const Incoming& incoming) {
  OldVersion old_version = OldVersion::none;
  Status placed = platform::kOk;
  OneStep one_step = replaced_in_one_step(folders, entry, incoming, &placed);
  if (one_step == OneStep::done) old_version = OldVersion::backed_up;
  if (one_step == OneStep::not_made) {
    Status in_use = platform::kOk;
    if (!back_up(folders, entry, false, &old_version, &in_use)) return Swap::done;
    if (old_version == OldVersion::in_use) {
      replace_file_at_restart(folders, entry, incoming, old_version, in_use);
      return Swap::done;
    }
    // A new file below a sub-folder the application does not have yet needs
    // that folder, or it could never be put in place.
    placed = make_target_parent(folders, entry);
    if (placed.ok()) placed = move_in(folders, entry, incoming, Into::free_name);
  }
  switch (after_rename(folders, entry, incoming, false, old_version, placed)) {
    case Renamed::done: return Swap::done;
    case Renamed::needs_copy: return Swap::needs_copy;
    case Renamed::fails_now: break;
  }
  // The old entry is asked for now that it is back in its place. A step
  // that failed to replace the old version in one go has no backup of it for
  // the restart.
  if (one_step != OneStep::failed && placed.failure == Failure::in_use &&
      (old_version == OldVersion::none || old_kind(entry) != Kind::folder))
    replace_file_at_restart(folders, entry, incoming, old_version, placed);
  else
    log_copy_failed(entry, false, placed);
  return Swap::done;
}

// Puts the new folder in the name's place: a staged copy swapped with the
// old entry where the system swaps, else the old version into the backup,
// then the new one in with one rename, from the release or from the stage
// folder. When that rename fails, the old version goes back.
Swap swap_folder(PassFolders& folders, Entry& entry, const Incoming& incoming) {
  OldVersion old_version = OldVersion::none;
  Status placed = platform::kOk;
  OneStep one_step = replaced_in_one_step(folders, entry, incoming, &placed);
  if (one_step == OneStep::done) old_version = OldVersion::backed_up;
  if (one_step == OneStep::not_made) {
    Status unused = platform::kOk;
    if (!back_up(folders, entry, true, &old_version, &unused)) return Swap::done;
    placed = make_target_parent(folders, entry);
    if (placed.ok()) placed = move_in(folders, entry, incoming, Into::free_name);
  }
  switch (after_rename(folders, entry, incoming, true, old_version, placed)) {
    case Renamed::done: return Swap::done;
    case Renamed::needs_copy: return Swap::needs_copy;
    case Renamed::fails_now: break;
  }
  log_copy_failed(entry, true, placed);
  return Swap::done;
}

// The new version goes in with one rename from the release where a rename
// reaches the application (and, for a folder or a link, where a moved entry
// is what a copy would be); otherwise, or when that rename finds another
// volume after all, it is staged whole first. So a link goes where its copy
// would go on every layout: kept as a link where the system makes links,
// refused by its copy where it makes none (Windows).
void put_new_version(PassFolders& folders, Entry& entry, bool is_folder) {
  Swap (*swap)(PassFolders&, Entry&, const Incoming&) = is_folder ? swap_folder : swap_file;
  Status opened = platform::kOk;
  Incoming incoming = {entry.source, false, platform::kUnknownIdentity,
                       given_folder(&folders.release_open, folders.unzip, &opened), entry.name,
                       platform::kUnknownIdentity};
  if (!incoming.folder) {
    log_copy_failed(entry, is_folder, opened);
    return;
  }
  const bool moves_as_copied = (!is_folder && entry.new_kind != Kind::link) || folders.folders_move;
  const bool by_rename = folders.release_on_app_volume && moves_as_copied;
  if (by_rename && swap(folders, entry, incoming) == Swap::done) return;
  if (folders.batch) {
    auto ahead = folders.batch->staged.find(name_key(entry.name));
    if (ahead != folders.batch->staged.end()) {
      const StagedCopy& copy = ahead->second;
      if (copy.status.ok())
        swap(folders, entry,
             {folders.stage + copy.staged, true, copy.copied, folders.stage_open, copy.staged, copy.made});
      else
        log_copy_failed(entry, is_folder, copy.status);
      return;
    }
  }
  if (stage(folders, entry, is_folder, &incoming)) swap(folders, entry, incoming);
}

}  // namespace

PassFolders pass_folders(const UpdateConfig& config) {
  PassFolders folders;
  folders.app = config.app_path;
  folders.unzip = config.unzip_folder();
  folders.backup = config.app_path + kBackupFolder;
  folders.stage = config.app_path + kStageFolder;
  folders.pending = config.app_path + kPendingFolder;
  folders.update_temp = config.update_temp_path;
  folders.set_aside = config.update_temp_path + "deleteTemp/";
  folders.release_on_app_volume =
      platform::same_volume(folders.unzip.c_str(), folder_or_current(folders.app).c_str());
  folders.folders_move = platform::moves_folders_into_place();
  folders.exchanges = platform::exchanges_entries();
  return folders;
}

namespace {

// Whether a listed name is one to replace, and why not. Names the release
// does not hold are left alone without a word (skip).
enum class Listed { take, skip, again, leads_outside, rewritten, own_folder, through_link, same_entry };

// The entry of a listed name: one listed for the first time (in seen), that
// leads nowhere outside, that the system would not take for another, that
// is no folder of the update's own and passes through no link, and one the
// release holds.
Listed entry_of(PassFolders& folders, std::set<std::string>& seen, const std::string& configured_name, Entry* entry) {
  // A second listing of a name would find the first one's work: a source
  // that stayed (it could not be deleted) would be put in again over the new
  // version, the new version backed up as if it were the old.
  if (!seen.insert(name_key(configured_name)).second) return Listed::again;
  if (leads_outside(configured_name)) return Listed::leads_outside;
  if (has_rewritten_step(configured_name, platform::drops_trailing_dots_and_blanks())) return Listed::rewritten;
  if (is_update_folder(folders, configured_name)) return Listed::own_folder;
  std::string name = without_trailing_separators(configured_name);
  if (passes_through_link(folders.unzip, name)) return Listed::through_link;
  entry->source = folders.unzip + name;
  entry->new_kind = kind_of(entry->source);
  if (entry->new_kind == Kind::missing) return Listed::skip;  // not part of this release
  // A name written as a folder names no file.
  if (entry->new_kind == Kind::file && name.size() != configured_name.size()) return Listed::skip;
  if (passes_through_link(folders.app, name)) return Listed::through_link;
  entry->name = name;
  entry->target = folders.app + name;
  entry->backup = folders.backup + name;
  entry->old_known = false;
  // A source that is the target itself (through a link, or a folder mounted
  // twice) would be moved away and then deleted with the release. A file can
  // be the target only as a second name of the same content, which moving
  // leaves whole.
  if (entry->new_kind != Kind::file && old_kind(*entry) != Kind::missing && same_entry(*entry))
    return Listed::same_entry;
  return Listed::take;
}

}  // namespace

void replace_name(PassFolders& folders, const std::string& configured_name) {
  Entry entry;
  const char* name = text(configured_name);
  switch (entry_of(folders, folders.names_done, configured_name, &entry)) {
    case Listed::take: put_new_version(folders, entry, entry.new_kind == Kind::folder); return;
    case Listed::skip: return;
    case Listed::again: log_printf("Name listed again, nothing done: %s\n", name); return;
    case Listed::leads_outside:
      log_printf("Name refused, it leads outside the application folder: %s\n", name);
      return;
    case Listed::rewritten:
      log_printf("Name refused, the system would take it for another name: %s\n", name);
      return;
    case Listed::own_folder: log_printf("Name refused, it is a folder of the update's own: %s\n", name); return;
    case Listed::through_link: log_printf("Name refused, it passes through a link: %s\n", name); return;
    case Listed::same_entry:
      log_printf("Name refused, source and target are the same entry: %s\n", name);
      return;
  }
}

void stage_listed_names(PassFolders& folders, const std::vector<std::string>& configured_names) {
  if (folders.release_on_app_volume) return;  // renamed in: nothing to copy
  folders.batch = new PassBatch;
  std::set<std::string> seen;
  bool any_copied = false;
  for (const std::string& configured_name : configured_names) {
    Entry entry;
    if (entry_of(folders, seen, configured_name, &entry) != Listed::take) continue;
    Incoming incoming = {std::string(), false, platform::kUnknownIdentity, nullptr, std::string(),
                         platform::kUnknownIdentity};
    Status copied = copy_into_stage(folders, entry, entry.new_kind == Kind::folder, &incoming);
    any_copied = any_copied || copied.ok();
    folders.batch->staged[name_key(entry.name)] = {incoming.steps, incoming.copied, incoming.made, copied};
  }
  // On the disk before any old version moves: a rename that lands before a
  // copy's data would leave the name empty after a power cut. Copies that
  // cannot be flushed fail like copies that cannot be made, and the old
  // versions stay.
  Status flushed = any_copied ? make_durable(folders.stage) : platform::kOk;
  if (!flushed.ok()) {
    for (auto& [key, copy] : folders.batch->staged)
      if (copy.status.ok()) copy.status = flushed;
  }
}

void delete_copied_sources(PassFolders& folders) {
  if (!folders.batch || folders.batch->sources.empty()) return;
  // The copies went in by renames, which must be on the disk before any
  // source goes: the release may lie on another file system, whose deletion
  // could reach its disk first.
  const bool durable = make_durable(folder_or_current(folders.app)).ok();
  for (const CopiedSource& copied : folders.batch->sources) {
    Entry entry;
    entry.name = copied.name;
    entry.source = folders.unzip + copied.name;
    entry.new_kind = copied.new_kind;
    const bool is_folder = copied.new_kind == Kind::folder;
    if (!durable)
      log_printf("Source kept, the new version is not known to be on the disk: %s%s\n", text(entry.source),
                 is_folder ? "/" : "");
    else if (is_folder)
      delete_source_folder(folders, entry);
    else
      delete_source_file(entry, {entry.source, true, copied.copied, nullptr, std::string(), platform::kUnknownIdentity});
  }
  folders.batch->sources.clear();
}

void clear_work_folders(const PassFolders& folders) {
  for (const std::string* folder : {&folders.stage, &folders.set_aside}) {
    if (is_folder(folder->c_str()) != 1) continue;
    Status failure = platform::kOk;
    if (delete_folder_tree(folder->c_str(), &failure) != 1)
      log_printf("Work folder not emptied: %s (%s)\n", text(*folder), text(why(failure)));
  }
  // Not looked at: a pending folder that still holds a copy waits for its
  // restart; removing it only succeeds once it is empty.
  if (is_folder(folders.pending.c_str()) == 1) platform::remove_folder(folders.pending.c_str());
}

void close_pass_folders(PassFolders& folders) {
  for (platform::TargetFolder** open : {&folders.app_open, &folders.release_open, &folders.backup_open,
                                        &folders.stage_open, &folders.pending_open, &folders.update_temp_open,
                                        &folders.set_aside_open}) {
    platform::close_target_folder(*open);
    *open = nullptr;
  }
  delete folders.batch;
  folders.batch = nullptr;
}
