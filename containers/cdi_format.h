#pragma once
// The compressed disk image's file layout: a 512-byte header, one zlib stream, a footer ending
// in "FOOT". All numbers little-endian. Plain C++, no Qt.
//
//   0   5    04 "ZCDI"          signature
//   5   5    04 "0100"          format version
//   10  5    04 "LIBZ"          compression
//   15  4    zero
//   19  8    source size        bytes in the body (signed 64-bit)
//   27  8    source offset      where the bytes lay on their device
//   35  8    data start         512
//   43  8    zero
//   51  256  source name        no length byte, zero-filled
//   307 205  source description no length byte, zero-filled
//   512      body               one zlib stream of source-size bytes (fewer if the save stopped)
//   then     4 zero bytes, 0 to 3 more to a multiple of 4, "FOOT"

#include "core/fileinfo.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <string>

namespace cdi {

inline constexpr int64_t kHeaderSize = 512;
inline constexpr size_t kNameField = 256;
inline constexpr size_t kDescriptionField = 205;
inline constexpr size_t kNameAt = 51;
inline constexpr size_t kDescriptionAt = 307;

using HeaderBytes = std::array<uint8_t, kHeaderSize>;

struct Header {
    int64_t sourceSize = 0;
    int64_t sourceOffset = 0;
    int64_t dataStart = kHeaderSize;
    std::string sourceName;
    std::string sourceDescription;
};

// The header of an image of the selection's bytes.
HeaderBytes buildHeader(const TFileInfo& selection);
// The first `bytes` bytes of a text, cut so that no UTF-8 character is split.
std::string fitField(const std::string& text, size_t bytes);

// The footer after a body of `bodyBytes`: four zero bytes, zeros up to a multiple of 4, "FOOT".
std::string footer(int64_t bodyBytes);

// What the reader makes of a file before the body, in the order it checks.
enum class Check {
    Ok,
    ShortHeader,   // fewer than 512 bytes
    UnknownFormat, // a tag is not "ZCDI", "LIBZ" or "0100"
    Incomplete,    // the last four bytes are not "FOOT"
};
struct Inspection {
    Check check = Check::ShortHeader;
    Header header; // read when the check got past the tags
};
// Reads the footer mark and the header of an image file. Reads only; leaves the position anywhere.
Inspection inspect(platform::RawStream& image);
// The header's checks alone, for an image read as a stream: its footer comes last.
Inspection inspectHeader(const HeaderBytes& header);

} // namespace cdi
