#pragma once
// The hex viewer and editor: what one refresh reads and shows (the page), the block filters and
// the search, navigation with its clamps, the jump, the row width, and the one-byte write behind
// the overwrite gate. The window and the command line only bind their controls to this. Plain
// C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace hexview {

inline constexpr int kBlockSize = 512;   // filtered, searched and shown as a unit
inline constexpr int kChunkSize = 4096;  // bytes per read
inline constexpr int kDataRows = 4096;   // grid rows below the header row, whatever the row width
inline constexpr int kReadEvery = 20;    // blocks between read-count updates and event pumps
inline constexpr int kAddressWidth = 75; // pixels

// Blocks per page: the page always fills the grid's 4096 rows.
inline int pageBlocks(int rowWidth) {
    return rowWidth * 8;
}
// The length the forward clamp and End keep from the selection's end.
inline int64_t navigationSpan(int rowWidth) {
    return int64_t(rowWidth) * 1024;
}
// 32 bytes a row once the window's client area is wider than 800 pixels, 16 below 640, else
// unchanged.
int rowWidthForClientWidth(int clientWidth, int current);
// The grid's column widths in pixels (column 0 the address, then the bytes, then the text).
int columnWidth(int column, int rowWidth);

// The cells' light-yellow background, for every other displayed block.
struct Rgb {
    uint8_t red, green, blue;
};
inline constexpr Rgb kAlternateBlockColour{255, 255, 204};
// Text is drawn this far in from the cell's left and top.
inline constexpr int kCellTextInset = 2;

enum class Filter { None, SkipBlank, Ascii, MoreAscii };
// The radio group's items in Filter order.
const std::vector<std::string>& filterNames();

// Whether a block (512 bytes, or the part a short read delivered) passes the filter.
bool passesFilter(const uint8_t* block, size_t size, Filter filter);

struct Search {
    std::string ascii; // searched as it stands (case-sensitive) or with A-Z lowered
    bool caseSensitive = false;
    std::string hex; // when not empty, its result replaces the text search's
};
// Whether a block holds what is searched for; a match may not cross into the next block.
bool matchesSearch(const uint8_t* block, size_t size, const Search& search);

// 8 or more upper-case hexadecimal digits.
std::string hexAddress(int64_t value);
// The text column: bytes 32 to 126 as themselves, others as "."; a blank after every 8th byte and
// another after every 16th.
std::string textColumn(const uint8_t* bytes, size_t size);
std::string displayingText(int64_t bytes); // "Displaying %d bytes (%dkB)"
std::string readText(int64_t bytes);       // "Read %d bytes (%dkB)"
inline constexpr const char* kInitialInfo = "Displaying 0 bytes";
inline constexpr const char* kInitialRead = "Read: 0 bytes";
inline constexpr const char* kReadingInfo = "Reading";

// The jump box's text read as "$" + text, a 64-bit hexadecimal number (0 when it is none), and
// brought down to a multiple of 512.
int64_t jumpTarget(const std::string& text);

// Of the keys typed into the grid, only backspace and hexadecimal digits get through.
bool keyAllowed(char32_t key);
// The message for an edit whose two characters are not a hexadecimal number.
std::string invalidDigitsMessage(const std::string& text);

// The blocks one refresh shows, laid out as the grid's rows: each block takes 512 / row width
// rows, in the order they were shown, labelled with the address they were read from.
class Page {
public:
    explicit Page(int rowWidth = 16);

    void clear(int rowWidth);
    // The block's bytes: 512, or fewer when a short read ended inside it.
    void addBlock(int64_t address, const uint8_t* bytes, size_t size);

    int rowWidth() const { return rowWidth_; }
    int columnCount() const { return rowWidth_ + 2; }
    int textColumnIndex() const { return rowWidth_ + 1; }
    int blockCount() const { return int(blocks_.size()); }
    int rowsPerBlock() const { return kBlockSize / rowWidth_; }
    // Rows holding at least one byte.
    int filledRows() const;
    int rowsOfBlock(int block) const;

    // The grid's texts: the header row, and the cells (empty where nothing was read).
    std::string headerText(int column) const;
    std::string cellText(int row, int column) const;
    // The row belongs to the 2nd, 4th, 6th ... displayed block.
    bool alternate(int row) const;

    // The row's first address, when it holds bytes.
    std::optional<int64_t> rowAddress(int row) const;
    // Byte columns (1 .. row width) that hold a byte read from the device or file.
    std::optional<uint8_t> byteAt(int row, int column) const;
    std::optional<int64_t> byteAddress(int row, int column) const;
    // What a selected cell puts into the address box: a byte's address, or the row's.
    std::optional<int64_t> selectedAddress(int row, int column) const;
    // Shows a value that was written.
    void setByte(int row, int column, uint8_t value);

    // The page as lines of text: a header, then address, byte cells and text column per row.
    std::vector<std::string> lines() const;

private:
    struct Block {
        int64_t address = 0;
        int size = 0;
        std::array<uint8_t, kBlockSize> bytes{};
    };
    // The block and the offset of the row's first byte in it, when the row lies in a shown block.
    bool locate(int row, int& block, int& offset) const;

    int rowWidth_;
    std::vector<Block> blocks_;
};

// What a refresh tells the window while it runs.
class Display {
public:
    virtual ~Display() = default;
    virtual void cleared() = 0;                          // the page was emptied (maybe a new row width)
    virtual void blockAdded(int block) = 0;              // the page has one more block
    virtual void info(const std::string& text) = 0;      // lblInfo
    virtual void readCount(const std::string& text) = 0; // lblRead
    virtual void address(const std::string& text) = 0;   // edtAddress
    // A read failed: why, for the status bar.
    virtual void status(const std::string& text) = 0;
};

enum class RefreshResult {
    Ignored, // a refresh was already running
    Failed,  // the open or the seek failed (the user was told)
    Done,    // the page, the budget or the data ended
    Stopped,
};

enum class EditResult {
    Ignored,   // not a byte cell, not two characters yet, or a write's refresh is running
    Invalid,   // not a hexadecimal number (the user was told)
    Unchanged, // the cell already holds the value
    Refused,   // the overwrite gate said no
    Failed,    // the write failed (the user was told)
    Written,
};

class Viewer {
public:
    Viewer(platform::Backend& backend, TFileInfo file);

    const TFileInfo& file() const { return file_; }
    int64_t viewStart() const { return file_.Offset; }
    int rowWidth() const { return rowWidth_; }
    const Page& page() const { return page_; }
    bool refreshing() const { return refreshing_; }
    bool writing() const { return writing_; }
    bool searching() const { return searching_; }
    bool writeConfirmed() const { return writeConfirmed_; }

    // Read when a refresh starts; a running refresh keeps what it started with.
    void setFilter(Filter filter) { filter_ = filter; }
    void setSearch(Search search) { search_ = std::move(search); }
    void setRowWidth(int rowWidth) { rowWidth_ = rowWidth == 32 ? 32 : 16; }
    // True when the row width changed (which calls for a refresh).
    bool fitToClientWidth(int clientWidth);

    bool readOnly() const { return readOnly_; }
    void setReadOnly(bool on) { readOnly_ = on; }
    // Grid cells that may be edited: bytes that were read, in read-and-write mode.
    bool editable(int row, int column) const;

    // Navigation moves the view start; the caller refreshes. Distances are whole blocks, the
    // view start keeps its remainder modulo 512.
    void back(int64_t distance);
    void forward(int64_t distance);
    void toStart();
    void toEnd();
    void jump(const std::string& text);

    enum class Kind { Normal, Search, AfterWrite };
    // Reads from the view start and rebuilds the page. Stops when the job's stop is requested.
    RefreshResult refresh(Dialogs& dialogs, JobControl& job, Display& display, Kind kind = Kind::Normal);

    // The address box's text for a selected cell, if it has one.
    std::optional<std::string> select(int row, int column) const;

    // The edited text of a byte cell: at two characters, the byte is written (behind the gate,
    // the first time in this viewer) and the page refreshed.
    EditResult edit(Dialogs& dialogs, JobControl& job, Display& display, int row, int column,
                    const std::string& text);

private:
    bool writeByte(Dialogs& dialogs, JobControl& job, int64_t address, uint8_t value);
    std::string openFailure() const { return "Failed to open " + file_.Description; }

    platform::Backend& backend_;
    TFileInfo file_;
    int rowWidth_ = 16;
    Filter filter_ = Filter::None;
    Search search_;
    Page page_;
    bool readOnly_ = true;
    bool refreshing_ = false;
    bool searching_ = false;
    bool writing_ = false;
    bool writeConfirmed_ = false;
};

} // namespace hexview
