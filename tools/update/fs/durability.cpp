#include "fs/durability.h"

#include "log/diagnostic_log.h"
#include "platform/platform.h"

namespace {

void log_not_flushed(const std::string& path, const platform::Status& why) {
  log_printf("Not flushed to the disk: %s (%s)\n", path.c_str(), platform::describe(why).c_str());
}

}  // namespace

platform::Status make_durable(const std::string& path) {
  platform::Status flushed = platform::flush_file_system(path.c_str());
  // A path that is not there holds nothing this run relies on (a release
  // without the folder replaces nothing); a system without the flush has made
  // each change durable on its own.
  if (flushed.ok() || flushed.failure == platform::Failure::not_found ||
      flushed.failure == platform::Failure::not_supported)
    return platform::kOk;
  log_not_flushed(path, flushed);
  return flushed;
}

void flush_written_file(const std::string& path) {
  platform::Status flushed = platform::flush_file(path.c_str());
  if (!flushed.ok()) log_not_flushed(path, flushed);
}
