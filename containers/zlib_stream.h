#pragma once
// The body of a compressed disk image: one zlib stream (RFC 1950: the header 78 01 of the fastest
// level, raw deflate data, the Adler-32 of the data) written into or read from a byte stream.
// Every codec writes the same format, which zlib's own inflate reads; they differ only in speed.
// Plain C++, no Qt.

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace containers {

enum class Codec {
    Zlib,         // zlib's deflate, one stream on the calling thread
    ZlibParallel, // zlib's deflate on every core, in pieces joined into one stream
    Isal,         // ISA-L's deflate on the calling thread
    IsalParallel, // ISA-L's deflate on every core, in pieces joined into one stream
};

// "zlib", "zlib-parallel", "isal", "isal-parallel".
const char* codecName(Codec codec);
std::optional<Codec> codecByName(const std::string& name);
// False for the ISA-L codecs in a build without ISA-L.
bool codecAvailable(Codec codec);
// The fastest codec this build has.
Codec defaultCodec();
// What this build compresses images with, for the version text: "ISA-L 2.30.0 deflate on 2 threads
// (zlib 1.2.13 for zip entries)" or "zlib 1.2.13 on 2 threads".
std::string compressionLibrary();

// The deflate stream failed to start (only for lack of memory), or broke down.
inline constexpr const char* kCompressorFailed = "The compressor could not be started: not enough memory.";

// Writes one zlib stream into `out`, from its current position on, in writes of at most 64 KiB.
class BodyWriter {
public:
    virtual ~BodyWriter() = default;
    BodyWriter() = default;
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;

    // Compresses `count` more bytes. An error is the output's (a failed write) or the
    // compressor's; after one the writer takes nothing more.
    virtual platform::Result<void> write(const uint8_t* data, size_t count) = 0;
    // Ends the stream: pending output, the final block and the Adler-32 trailer.
    virtual platform::Result<void> finish() = 0;
    // Compressed bytes written so far, header and trailer included.
    virtual int64_t bytesOut() const = 0;
};

// threads: compressing threads of the parallel codecs; 0 takes one per core.
platform::Result<std::unique_ptr<BodyWriter>> makeBodyWriter(Codec codec, platform::RawStream& out,
                                                             int threads = 0);

// Reads one zlib stream from `in`, from its current position on, in reads of at most 64 KiB.
class BodyReader {
public:
    virtual ~BodyReader() = default;
    BodyReader() = default;
    BodyReader(const BodyReader&) = delete;
    BodyReader& operator=(const BodyReader&) = delete;

    // Up to `count` bytes of the stream's data; fewer only where it stops: its data ended
    // (ended()), it is damaged (damaged()), or the file could not be read (readError()).
    virtual int64_t read(uint8_t* data, int64_t count) = 0;
    // Reads on past what was asked until the stream's end, so that a damaged tail or a wrong
    // checksum shows in damaged(). Stops at the first byte of data beyond.
    virtual void checkEnd() = 0;

    bool ended() const { return ended_; }
    bool damaged() const { return damaged_; }
    const std::optional<platform::Error>& readError() const { return readError_; }

protected:
    bool ended_ = false;
    bool damaged_ = false;
    std::optional<platform::Error> readError_;
};

// ISA-L's inflate where the build has it (for Codec::Isal and IsalParallel), else zlib's.
platform::Result<std::unique_ptr<BodyReader>> makeBodyReader(Codec codec, platform::RawStream& in);

} // namespace containers
