#pragma once
// Something that sees every byte an action reads, in order, while it runs: the digests computed
// while imaging. Plain C++, no Qt.

#include <cstdint>
#include <string>

namespace jobs {

class ByteObserver {
public:
    virtual ~ByteObserver() = default;
    // Called on the action's own thread with the bytes in the order they were read. Never throws:
    // the block engine's reader thread is running.
    virtual void add(const uint8_t* data, int64_t size) noexcept = 0;
    // What the observer found, one "NAME VALUE" line each, for the completion message.
    virtual std::string summary() = 0;
};

} // namespace jobs
