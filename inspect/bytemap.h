#pragma once
// The graphical byte map: every pixel stands for S 512-byte sectors and its colour tells how much
// of them is text (red), other data (green) or empty (blue). The drawing, its geometry and the
// pointer readouts live here; the window only shows the image and passes the mouse on. Plain C++,
// no Qt.

#include "core/fileinfo.h"
#include "core/job.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace bytemap {

inline constexpr int kWidth = 1024; // pixels a row
inline constexpr int kMaxRows = 4096;
inline constexpr int kInitialRows = 512; // the empty image before the first drawing
inline constexpr int kGroup = 4;         // pixels per read
inline constexpr int kPumpPixels = 64;   // pixels between event pumps
inline constexpr int kMinSectorsPerPixel = 1;
inline constexpr int kMaxSectorsPerPixel = 65536;
inline constexpr int64_t kSector = 512;

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kWhite{255, 255, 255};
// The legend's squares.
inline constexpr Rgb kTextColour{255, 0, 0};
inline constexpr Rgb kBinaryColour{0, 255, 0};
inline constexpr Rgb kEmptyColour{0, 0, 255};
inline constexpr const char* kTextLegend = "Ascii";
inline constexpr const char* kBinaryLegend = "Binary";
inline constexpr const char* kEmptyLegend = "Empty";

// S clamped to 1 .. 65536.
int clampSectorsPerPixel(int sectorsPerPixel);
inline int64_t pixelBytes(int sectorsPerPixel) {
    return int64_t(sectorsPerPixel) * kSector;
}

// The colour of one pixel's S x 512 bytes: each class counted, a class holding all of them
// counted one less, each count divided by 2 x S (0 to 255); red text, green other, blue empty.
Rgb pixelColour(const uint8_t* data, int sectorsPerPixel);
Rgb colourOfCounts(int64_t text, int64_t empty, int64_t other, int sectorsPerPixel);

// Rows a selection of `size` bytes fills: size div (S x 512 KiB), at most 4096.
int rowCount(int64_t size, int sectorsPerPixel);
// What Forward adds to the start offset: S x 256 MiB (512 rows).
inline int64_t forwardStep(int sectorsPerPixel) {
    return int64_t(sectorsPerPixel) << 28;
}

// The offset box's text as a decimal number; text that is no number counts as 0.
int64_t offsetFromText(const std::string& text);
// The byte under pixel (x, y) for start offset O: O + (y x 1024 + x) x S x 512.
int64_t positionAt(int64_t offset, int x, int y, int sectorsPerPixel);

// The three readouts under the pointer, in 8 or more upper-case hexadecimal digits.
struct Readouts {
    std::string sector;   // O div 512 + p x S
    std::string absolute; // O + p x S x 512
    std::string relative; // p x S x 512
};
Readouts readouts(int64_t offset, int x, int y, int sectorsPerPixel);

// The map's pixels, 1024 a row, each 0xFFRRGGBB (what image libraries call 32-bit RGB).
class Image {
public:
    Image() { reset(kInitialRows); }
    // The given height, all white. Memory that cannot be had leaves an image of no rows.
    void reset(int rows);
    int width() const { return kWidth; }
    int height() const { return rows_; }
    const uint32_t* data() const { return pixels_.data(); }
    Rgb at(int x, int y) const;
    void set(int x, int y, Rgb colour);

private:
    int rows_ = 0;
    std::vector<uint32_t> pixels_;
};

// The image as a PNG file (8-bit RGB, zlib-compressed), or nothing for an image of no rows.
std::vector<uint8_t> encodePng(const Image& image);
// Writes the PNG into `path` as an output file (jobs/output_file.h), replacing a file there: it
// takes the name only when written whole, so a failure leaves an earlier file as it was. The
// failure's text, or nothing.
std::optional<std::string> savePng(platform::Backend& backend, const Image& image, const std::string& path);
inline constexpr const char* kPngFilter = "PNG image|*.png";
inline constexpr const char* kSaveImageCaption = "Save image...";

// Where the window's drawing shows.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void resized() = 0;                        // new height, all white
    virtual void drawn(int firstRow, int lastRow) = 0; // pixels in these rows changed
    virtual void drawingChanged() = 0;                 // a drawing started or ended
};

struct DrawReport {
    bool started = false; // the device or file was opened
    int rows = 0;         // the image's height
    int64_t pixels = 0;   // pixels drawn
    bool stopped = false;
    bool dataEnded = false; // a short read ended the drawing before every row was drawn
};

class Map {
public:
    Map(platform::Backend& backend, TFileInfo file);

    const TFileInfo& file() const { return file_; }
    int64_t startOffset() const { return file_.Offset; }
    const Image& image() const { return image_; }
    bool drawing() const { return drawing_; }
    // Draw works once per window; Forward after that.
    bool drawEnabled() const { return !drawing_ && !drawn_; }
    bool forwardEnabled() const { return !drawing_; }
    // A drawing has begun at least once, so there is a map to save.
    bool hasMap() const { return drawn_; }

    // Draws from the start offset with S sectors a pixel.
    DrawReport draw(Dialogs& dialogs, JobControl& job, Canvas& canvas, int sectorsPerPixel);
    // Moves the start offset on by S x 256 MiB, then draws.
    DrawReport forward(Dialogs& dialogs, JobControl& job, Canvas& canvas, int sectorsPerPixel);

    // A mouse press on pixel (x, y): the clicked selection becomes this map's record starting at
    // the byte under it (offsetText: the offset box's text).
    void press(const std::string& offsetText, int x, int y, int sectorsPerPixel);
    // What a double-click opens in the hex viewer: the clicked selection, unless a drawing runs.
    std::optional<TFileInfo> doubleClickTarget() const;

private:
    platform::Backend& backend_;
    TFileInfo file_;
    std::optional<TFileInfo> clicked_;
    Image image_;
    bool drawing_ = false;
    bool drawn_ = false;
};

} // namespace bytemap
