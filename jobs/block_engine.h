#pragma once
// The block engine: streams bytes from a source stream to a sink in large buffers, with a reader
// thread filling the next buffers while this thread writes, and gives the same result as the
// actions' small fixed blocks would: the same bytes at the destination, the same counts, the same
// end at a short read, a read error or the end of the device. Its callers see those small blocks:
// after each one the engine calls back, so progress, the event pump and Stop behave as before.
// Plain C++, no Qt.

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace blocks {

// What the caller's loop did with its small blocks, which the engine reproduces.
struct Plan {
    int64_t size = 0;     // bytes of the selection
    int64_t block = 8192; // the small block of the loop being reproduced
    // True: whole blocks are read until the count reaches the size, so the last one may run past
    // it (a dump). False: never past the size (a restore).
    bool wholeBlocks = false;
    // Bytes moved per system call; the engine aligns it to the block and to memory pages.
    int64_t buffer = 1 << 20;
    // Buffers in flight; with more than one, a reader thread fills them ahead of the writes. A
    // source that cannot be read ahead safely (a pipe) is read on the caller's thread.
    int buffers = 4;
    // A block that comes back short ends the loop without being counted or written (the direct
    // copy's rule); otherwise a short block is the loop's last, counted and written.
    bool shortBlockEnds = false;
};

struct Outcome {
    int64_t total = 0;   // bytes read and handed on, counted per block as the loop counts them
    int64_t written = 0; // bytes the sink took
    std::optional<platform::Error> writeError; // why the sink took less than it was handed
    std::optional<platform::Error> readError;  // the read that ended the loop, when one failed
    bool stopped = false;                      // the caller asked to stop
    bool shortRead = false;                    // with shortBlockEnds: a block came back short
};

struct Callbacks {
    // After every block, with the running total. False stops: the blocks counted so far are
    // written, nothing after them.
    std::function<bool(int64_t total)> afterBlock;
    // While this thread waits for the reader (a slow device), at least every 100 ms: lets events
    // run. False stops.
    std::function<bool()> waiting;
    // The bytes of the blocks just counted, in order, before they are written: what the loop
    // read, whatever the sink then does with them. Without it the bytes may go from source to
    // sink inside the system (platform::kernelBuffer), never through this process's memory.
    std::function<void(const uint8_t* data, int64_t size)> counted;
};

// The loop reproduced, block by block:
//   read up to `block` bytes (up to what is left of the size when !wholeBlocks); a read that
//   fails or gives nothing ends it; so does a total that already reached the size (that block
//   is dropped); the block is counted and written; afterBlock.
// The source is read from its current position, the sink written at its current position. When
// the source can be positioned (a file or device, not a pipe), a large read that comes back short
// is read again in small blocks, so a read error at byte k ends the copy exactly where the small
// blocks would have ended it; a pipe is read on the caller's thread, where a stop can reach it.
Outcome run(platform::RawStream& source, platform::RawStream& sink, const Plan& plan,
            const Callbacks& callbacks);

} // namespace blocks
