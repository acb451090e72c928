// The configurations that would destroy their own update: emptying the
// backup folder or moving a listed name must never take the unpacked release,
// the configuration file or the log with it, and the release must not hold
// the application folder it replaces into.
#pragma once

#include <string>

struct UpdateConfig;
struct PassFolders;

// Checks the configuration and the pass's folders before anything is touched.
// Logs the refusal line and returns false when the run must change nothing.
// log_path: the log file of the run (checked whether or not the log is on).
bool own_release_is_safe(const UpdateConfig& config, const PassFolders& folders, const std::string& log_path);
