// Making what the run relies on reach the disk, so that a power cut loses no
// version: a flush that fails is logged with its reason, and the run goes on
// (a run cut short by a kill still loses nothing).
#pragma once

#include <string>

#include "platform/platform.h"

// Every change already made on the file system that holds path reaches the
// disk before the call returns: the unpacked release before the first name
// changes, a staged copy before it is swapped in, the run's renames and
// copies before the run ends. Where the system grants no such flush to this
// process (Windows without administrator rights) nothing is done: there each
// copy is flushed and each move written through as it is made. The failure,
// logged already, is returned for callers that must not go on without it
// (a source is deleted only once its copy is known to be on the disk); kOk
// when durable or when there is nothing this call could do.
platform::Status make_durable(const std::string& path);

// The content of a file this program has just written (the log, a new
// wininit.ini text) reaches the disk before the call returns.
void flush_written_file(const std::string& path);
