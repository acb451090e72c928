// The replacement of one listed name: its old entry into the backup folder,
// the new one from the unpacked release into its place, and one outcome line
// in the log. A replacement that fails puts the old version back, so that the
// name is always a whole old or a whole new version (or a restart move is
// pending that ends in one).
#pragma once

#include <string>

struct UpdateConfig;

// What the names of one pass share: its folders, and what it already knows of
// them, so that no name asks the system again.
struct PassFolders {
  std::string app;            // the application folder, as configured
  std::string unzip;          // the unpacked release
  std::string backup;         // the application's backup folder, updateTemp/
  std::string set_aside;      // where replaced folders' sources go to be deleted
  std::string parent_made;    // the folder that last held a new file, known to exist
  unsigned sources_set_aside = 0;
};

PassFolders pass_folders(const UpdateConfig& config);

// Replaces the listed name, as configured (a folder's name may end in a
// separator). Names that lead outside, or through a link, are refused with a
// log line; a name the release does not hold is left alone without one.
void replace_name(PassFolders& folders, const std::string& configured_name);

// Deletes what the pass set aside, and the set-aside folder itself.
void clear_set_aside(const PassFolders& folders);
