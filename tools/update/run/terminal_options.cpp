#include "run/terminal_options.h"

#include <cstring>

namespace {

const char kUsage[] =
    "Usage: corvane CONFIG_PATH\n"
    "       corvane --help | --version\n"
    "\n"
    "The file-replacement step of an application's self-update. Reads the update\n"
    "configuration CONFIG_PATH (update_config.xml), moves every listed name of the\n"
    "application folder into its backup folder updateTemp/ and puts the new\n"
    "version from the unpacked release in its place. Writes its log to\n"
    "updateLog/update.log beside the configuration when that file exists.\n"
    "\n"
    "The exit code is 1 when a path was given, 0 without one: it does not tell\n"
    "success from failure; the log does. An application's updater starts it:\n"
    "corvane-update(1) unpacks a release, runs it and reads its log. More in\n"
    "corvane(1).\n";

}  // namespace

bool terminal_option_answer(int argc, char** argv, const char* version, std::string* text) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    *text = kUsage;
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    *text = std::string("corvane ") + version + "\n";
    return true;
  }
  return false;
}
