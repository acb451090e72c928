#include "shell/shell_folders.h"

#include <boost/format.hpp>

#include "fs/path_queries.h"
#include "fs/path_text.h"

void ShellFolders::look_up() {
  if (looked_up) return;
  platform::ShellLibrary* library = platform::load_shell_library();
  if (!library) return;  // a later call tries again
  // The documents and application-data folders are created when missing.
  std::string answer = folder_path(library, platform::UserFolder::documents, true);
  if (!answer.empty()) documents = answer;
  videos = folder_path_or_documents(library, platform::UserFolder::videos);
  pictures = folder_path_or_documents(library, platform::UserFolder::pictures);
  answer = folder_path(library, platform::UserFolder::app_data, true);
  if (!answer.empty()) app_data = answer;
  platform::free_shell_library(library);
  looked_up = true;
}

std::string folder_path(platform::ShellLibrary* library, platform::UserFolder folder, bool create) {
  if (!library) return std::string();
  bool has_narrow = platform::shell_has_narrow_query(library);
  bool has_wide = platform::shell_has_wide_query(library);
  if (!has_narrow) return std::string();
  char buffer[platform::kPathMax] = {};
  if (platform::shell_folder_path_narrow(library, folder, create, buffer) != 0) return std::string();
  if (is_folder(buffer) == 1) return buffer;
  // The narrow answer names no folder, as when its characters do not exist in
  // the narrow code page: ask for the wide answer and convert it.
  if (!has_wide) return std::string();
  buffer[0] = '\0';
  if (platform::shell_folder_path_wide(library, folder, create, buffer) != 0) return std::string();
  return is_folder(buffer) == 1 ? std::string(buffer) : std::string();
}

std::string folder_path_or_documents(platform::ShellLibrary* library, platform::UserFolder folder) {
  std::string answer = folder_path(library, folder, false);
  return answer.empty() ? folder_path(library, platform::UserFolder::documents, false) : answer;
}

std::string user_data_folder(ShellFolders& folders) {
  folders.look_up();
  if (folders.documents.empty()) return "C:/";
  std::string folder_name = std::string("Maridel") + "9";
  std::string result = (boost::format("%s/%s/") % folders.documents % folder_name).str();
  to_forward_slashes(result);
  if (!path_exists(result.c_str())) {
    // A folder that cannot be made is not reported: the path is used all the
    // same, and the log below it then simply stays off.
    make_folder_path(result.c_str());
  }
  return result;
}
