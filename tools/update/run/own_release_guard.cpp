#include "run/own_release_guard.h"

#include <vector>

#include "config/update_config.h"
#include "fs/path_text.h"
#include "log/diagnostic_log.h"
#include "platform/platform.h"
#include "run/replace_entry.h"

namespace {

using platform::EntryIdentity;

// The entry at path and every folder above it along its real path (links
// resolved), by identity, so that another spelling of the same folder
// (letter case, short names, links) is still recognised. Paths that cannot be
// examined add nothing.
std::vector<EntryIdentity> path_and_ancestors(const std::string& path) {
  std::vector<EntryIdentity> identities;
  std::string current = platform::full_path(path.c_str());
  while (!current.empty()) {
    EntryIdentity identity;
    if (platform::entry_identity(current.c_str(), &identity).ok()) identities.push_back(identity);
    std::string trimmed = without_trailing_separators(current);
    std::string::size_type cut = trimmed.find_last_of("/\\");
    if (cut == std::string::npos) break;
    std::string parent = trimmed.substr(0, cut + 1);  // keeps the separator: "/" and "C:\" are roots
    if (parent == current) break;
    current = parent;
  }
  return identities;
}

bool holds_any(const std::string& path, const std::vector<EntryIdentity>& protected_entries) {
  EntryIdentity identity;
  if (!platform::entry_identity(path.c_str(), &identity).ok()) return false;
  for (const EntryIdentity& entry : protected_entries)
    if (entry == identity) return true;
  return false;
}

}  // namespace

bool own_release_is_safe(const UpdateConfig& config, const PassFolders& folders, const std::string& log_path) {
  // The folders above each of them are compared along its real path. Where
  // the system cannot tell the real path of one that passes through a link,
  // it is nowhere known, and nothing is touched.
  const std::string own_entries[] = {config.config_path, log_path, config.unzip_folder()};
  for (const std::string& path : own_entries) {
    if (!platform::passes_unresolved_link(path.c_str())) continue;
    log_printf("Configuration refused, this path passes through a link that cannot be followed here: %s\n",
               path.c_str());
    return false;
  }
  std::vector<EntryIdentity> protected_entries;
  std::vector<EntryIdentity> config_and_log;  // and the folders above them
  for (const std::string& path : own_entries) {
    std::vector<EntryIdentity> more = path_and_ancestors(path);
    protected_entries.insert(protected_entries.end(), more.begin(), more.end());
    if (&path != &own_entries[2]) config_and_log.insert(config_and_log.end(), more.begin(), more.end());
  }

  // The folders the pass empties or deletes hold neither the release, the
  // configuration and the log, nor the application folder itself.
  std::vector<EntryIdentity> app_and_above = path_and_ancestors(folder_or_current(config.app_path));
  for (const std::string* own : {&folders.backup, &folders.stage, &folders.pending, &folders.set_aside}) {
    if (holds_any(*own, protected_entries)) {
      log_printf("Configuration refused, this entry holds the release, the configuration or the log: %s\n",
                 own->c_str());
      return false;
    }
    if (holds_any(*own, app_and_above)) {
      log_printf("Configuration refused, this work folder holds the application folder: %s\n", own->c_str());
      return false;
    }
  }
  // A listed name can hold them only when they lie inside the application
  // folder (its old version would go into the backup), or, for the
  // configuration and the log, inside the release (its new version would go
  // into the application): only then is every name looked at on that side.
  const struct {
    const std::string& folder;
    bool looked_at;
  } sides[] = {{config.app_path, holds_any(folder_or_current(config.app_path), protected_entries)},
               {folders.unzip, holds_any(folders.unzip, config_and_log)}};
  for (const auto& side : sides) {
    if (!side.looked_at) continue;
    for (const std::string& name : config.file_names) {
      if (leads_outside(name)) continue;  // refused on its own, touches nothing
      std::string entry = side.folder + without_trailing_separators(name);
      if (holds_any(entry, protected_entries)) {
        log_printf("Configuration refused, this entry holds the release, the configuration or the log: %s\n",
                   entry.c_str());
        return false;
      }
    }
  }
  // A release that is the application folder, or holds it, would be copied
  // into itself and then deleted with it.
  if (holds_any(config.unzip_folder(), app_and_above)) {
    log_printf("Configuration refused, the release holds the application folder: %s\n",
               config.unzip_folder().c_str());
    return false;
  }
  return true;
}
