#pragma once
// How an image or archive job ended, for the command line's exit status and for tests.

#include <cstdint>

namespace containers {

enum class Outcome {
    NotStarted, // cancelled, refused by a check, or declined before anything was written
    Failed,     // something could not be opened, positioned, read, written or flushed
    Incomplete, // stopped, or the data ended before the selection did
    Completed,  // every byte arrived
};

struct Report {
    Outcome outcome = Outcome::NotStarted;
    int64_t bytes = 0; // bytes of the selection that were stored, or written onto the device
};

} // namespace containers
