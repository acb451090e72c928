#include "run/no_parameter.h"

#include "shell/shell_folders.h"

std::string no_parameter_data_root() {
  ShellFolders folders;
  return user_data_folder(folders) + "Temp/";
}
