#pragma once
// Reading back what was written and comparing it with where it came from, block by block: the
// answer to "is it really there?". Plain C++, no Qt.

#include "core/job.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace verify {

struct Result {
    int64_t compared = 0;                 // bytes read from both sides and compared
    int64_t differing = 0;                // of those, the bytes that differ
    std::optional<int64_t> first;         // where the first difference lies, from the range's start
    std::optional<platform::Error> error; // a read that failed, on either side
    bool sourceFailed = false;            // with error: the side read for comparison failed
    bool stopped = false;
};

// Compares `size` bytes of both streams, each from its current position, with progress and Stop
// after every block through `job` (status: "Verifying: 12.34% done").
Result compare(platform::RawStream& expected, platform::RawStream& actual, int64_t size, JobControl& job);

// What the person reads: the range of `target` that starts at byte `offset` of it.
std::string report(const Result& result, int64_t size, const std::string& target, int64_t offset);

} // namespace verify
