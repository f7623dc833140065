#pragma once
// Deflate streams written into and read from a byte stream: the body of a compressed disk image
// (one zlib stream, RFC 1950: the header 78 01 of the fastest level, raw deflate data, the
// Adler-32 of the data) and the data of a zip entry (raw deflate, RFC 1951, whose CRC-32 the zip
// directory holds). Every codec writes the same format, which zlib's own inflate reads; they
// differ only in speed. Plain C++, no Qt.

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
// What this build compresses images and zip entries with, for the version text: "ISA-L 2.30.0
// deflate on 2 threads" or "zlib 1.2.13 on 2 threads".
std::string compressionLibrary();

// What surrounds the deflate data a writer makes.
enum class Framing {
    Zlib, // the zlib header, the data, the Adler-32: a compressed image's body
    Raw,  // the data alone, as a zip entry holds it; its CRC-32 is kept apart
};

// The most raw deflate data any codec makes of `bytes` bytes: incompressible data comes out a
// little larger, and the parallel codecs add a few bytes per piece.
int64_t deflatedBound(int64_t bytes);

// The deflate stream failed to start (only for lack of memory), or broke down.
inline constexpr const char* kCompressorFailed = "The compressor could not be started: not enough memory.";

// Writes one zlib stream, or raw deflate data, into `out`, from its current position on, in writes
// of at most 64 KiB.
class BodyWriter {
public:
    virtual ~BodyWriter() = default;
    BodyWriter() = default;
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;

    // Compresses `count` more bytes. An error is the output's (a failed write) or the
    // compressor's; after one the writer takes nothing more.
    virtual platform::Result<void> write(const uint8_t* data, size_t count) = 0;
    // Ends the stream: pending output, the final block and, for a zlib stream, the Adler-32
    // trailer.
    virtual platform::Result<void> finish() = 0;
    // Compressed bytes written so far, header and trailer included.
    virtual int64_t bytesOut() const = 0;
    // After finish(): the Adler-32 (Framing::Zlib) or CRC-32 (Framing::Raw) of all data taken.
    virtual uint32_t checksum() const = 0;
};

// threads: compressing threads of the parallel codecs; 0 takes one per core.
platform::Result<std::unique_ptr<BodyWriter>>
makeBodyWriter(Codec codec, platform::RawStream& out, int threads = 0, Framing framing = Framing::Zlib);

// What made a stream fail to deliver its data whole.
enum class Damage {
    None,
    Data,       // the deflate data or the zlib header does not decode
    Checksum,   // the Adler-32 after the data does not match it
    TooLong,    // the stream holds more data than was asked for
    Unfinished, // the file ends inside the stream, before its end and checksum
};

// Reads one zlib stream from `in`, from its current position on, in reads of at most 64 KiB.
// Both inflaters behave the same: the bytes of an inflate call that finds damage are never
// delivered, because a fast decoder may already have filled them with bytes that are not in the
// stream (a match reaching before the first byte).
class BodyReader {
public:
    virtual ~BodyReader() = default;
    BodyReader() = default;
    BodyReader(const BodyReader&) = delete;
    BodyReader& operator=(const BodyReader&) = delete;

    // Up to `count` bytes of the stream's data; fewer only where it stops: its data ended with a
    // good checksum (ended()), it is damaged (damaged()), or the file could not be read
    // (readError()).
    int64_t read(uint8_t* data, int64_t count);
    // For a caller that has all the bytes it wants: the stream must end here, with its checksum.
    // Reads on to its end; data beyond, a wrong checksum or a file that ends first is damage.
    void checkEnd();

    bool ended() const { return ended_; }
    bool damaged() const { return damage_ != Damage::None; }
    Damage damage() const { return damage_; }
    const std::optional<platform::Error>& readError() const { return readError_; }

protected:
    // One inflate call into `data` (at most `count` bytes): the bytes it made, and `ended_`,
    // `damage_` or `readError_` set when the stream stops there.
    virtual int64_t inflateSome(uint8_t* data, int64_t count) = 0;

    bool ended_ = false;
    Damage damage_ = Damage::None;
    std::optional<platform::Error> readError_;
};

// ISA-L's inflate where the build has it (for Codec::Isal and IsalParallel), else zlib's.
platform::Result<std::unique_ptr<BodyReader>> makeBodyReader(Codec codec, platform::RawStream& in);

} // namespace containers
