#pragma once
// Pieces that let the block engine read from and write into things that are not files. Internal
// to the containers engines.

#include "core/job.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <cerrno>
#include <memory>
#include <string>

namespace containers::detail {

using StreamAdapter = jobs::StreamAdapter;

// True when two names lead to the same file or device (a loop device and its backing file too).
bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b);

// "Cannot open file "<full path>". <system text>", the error box's text for a file that would
// not open.
std::string cannotOpenFile(const std::string& path, const std::string& systemText);

} // namespace containers::detail
