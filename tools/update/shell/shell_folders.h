// The user's standard folders, asked of the shell-folder library, and the
// per-user data folder below the documents folder.
#pragma once

#include <string>

#include "platform/platform.h"

struct ShellFolders {
  std::string documents;
  std::string videos;
  std::string app_data;
  std::string pictures;
  bool looked_up = false;

  // Fills the record the first time the library can be loaded; later calls
  // ask nothing.
  void look_up();
};

// The per-user data folder, "<documents>/Maridel9/" with forward slashes,
// created when missing; "C:/" when the documents folder cannot be found.
std::string user_data_folder(ShellFolders& folders);

// One query for a folder, with the system asked to create a missing one when
// create is set; empty text on any failure or when the answer names no
// existing folder (the wide query is the second try).
std::string folder_path(platform::ShellLibrary* library, platform::UserFolder folder, bool create);

// folder_path without creating, and when that is empty, the documents folder.
std::string folder_path_or_documents(platform::ShellLibrary* library, platform::UserFolder folder);
