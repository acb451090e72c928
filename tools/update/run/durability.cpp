#include "run/durability.h"

#include "log/diagnostic_log.h"
#include "platform/platform.h"

void make_durable(const std::string& path) {
  platform::Status flushed = platform::flush_file_system(path.c_str());
  // A path that is not there holds nothing this run relies on (a release
  // without the folder replaces nothing); a system without the flush has made
  // each change durable on its own.
  if (flushed.ok() || flushed.failure == platform::Failure::not_found ||
      flushed.failure == platform::Failure::not_supported)
    return;
  log_printf("Not flushed to the disk: %s (%s)\n", path.c_str(), platform::describe(flushed).c_str());
}
