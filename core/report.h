#pragma once
// How a long action over a selection ended (a transfer, an image or an archive), as the window
// and the command line read it. Plain C++, no Qt.

#include <cstdint>

enum class Outcome {
    NotStarted, // nothing selected, a check failed, or the user declined before anything was written
    Failed,     // something could not be opened, positioned, read, written or flushed
    Incomplete, // stopped, or the data ended before the selection did
    Completed,  // every byte of the selection arrived
};

struct Report {
    Outcome outcome = Outcome::NotStarted;
    int64_t bytes = 0; // bytes of the selection that arrived where they were going
};
