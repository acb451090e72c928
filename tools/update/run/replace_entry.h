// The replacement of one listed name: its old entry into the backup folder,
// the new one from the unpacked release into its place, and one outcome line
// in the log. A new version reaches its name only whole: with one rename from
// the release where a rename reaches the application, else as a copy made
// whole in the stage folder first and then renamed in. Where the system
// allows it, a file's old version gets a second name in the backup folder
// and the new one replaces it at its name in one step, and a whole copy is
// swapped with the old entry, so that the name is never absent. A replacement that fails puts the old version back, so that
// the name is always a whole old or a whole new version (or a restart move
// is pending that ends in one). Every change is made below folders opened
// once, never through a link put in a folder's place during the run.
#pragma once

#include <set>
#include <string>
#include <vector>

struct UpdateConfig;
namespace platform {
struct TargetFolder;
}
struct PassBatch;

// What the names of one pass share: its folders, and what it already knows of
// them, so that no name asks the system again.
struct PassFolders {
  std::string app;          // the application folder, as configured
  std::string unzip;        // the unpacked release
  std::string backup;       // updateTemp/: the old versions
  std::string stage;        // updateStage/: copies are made whole here before they go in
  std::string pending;      // updatePending/: copies that wait for a move at the restart
  std::string set_aside;    // where replaced folders' sources go to be deleted
  std::string parent_made;  // the folder that last held a new file, known to exist
  std::set<std::string> names_done;    // each listed name once, as the system spells it alike
  std::string update_temp;  // the folder that holds the release and set_aside
  // The same folders, each opened once when first needed: every move and
  // copy of the pass is made below them, step by step, never through a link
  // put in the place of a folder during the run (POSIX). Closed by
  // close_pass_folders.
  platform::TargetFolder* app_open = nullptr;
  platform::TargetFolder* release_open = nullptr;
  platform::TargetFolder* backup_open = nullptr;
  platform::TargetFolder* stage_open = nullptr;
  platform::TargetFolder* pending_open = nullptr;
  platform::TargetFolder* update_temp_open = nullptr;
  platform::TargetFolder* set_aside_open = nullptr;
  bool release_on_app_volume = false;  // a rename reaches the application from the release
  bool folders_move = false;           // ... and a new folder or link may be moved in with it
  bool exchanges = false;              // two entries may be swapped in one step here
  unsigned staged = 0;
  unsigned sources_set_aside = 0;
  // The copies staged ahead of their names' turns, and the sources of the
  // copies that went in, deleted once they are known to be on the disk.
  PassBatch* batch = nullptr;
};

PassFolders pass_folders(const UpdateConfig& config);
void close_pass_folders(PassFolders& folders);

// Where every new version must be copied (the release on another volume),
// copies the new version of each listed name into the stage before any name
// changes, and then flushes them all to the disk at once: one flush for the
// pass instead of one per name. A copy that fails, or a flush that fails,
// is told at its name's turn, as if the copy were made then.
void stage_listed_names(PassFolders& folders, const std::vector<std::string>& configured_names);

// Deletes from the release the sources of the copies that went in, once the
// application's file system is flushed: one flush for them all. When that
// flush fails, every such source stays, each with its line.
void delete_copied_sources(PassFolders& folders);

// Replaces the listed name, as configured (a folder's name may end in a
// separator). Names that lead outside, through a link or into a folder of the
// update's own are refused with a log line; a name the release does not hold
// is left alone without one.
void replace_name(PassFolders& folders, const std::string& configured_name);

// Empties the pass's work folders (the stage and set-aside folders) and
// removes the pending folder once nothing waits there any more. Logs a work
// folder that cannot be emptied.
void clear_work_folders(const PassFolders& folders);
