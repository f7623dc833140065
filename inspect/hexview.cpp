#include "inspect/hexview.h"

#include "core/selection.h"
#include "inspect/byte_classes.h"
#include "jobs/gate.h"
#include "jobs/range_job.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace hexview {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

bool isHexDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}
uint8_t lowerAscii(uint8_t c) {
    return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c;
}

std::string byteText(uint8_t b) {
    return {kDigits[b >> 4], kDigits[b & 15]};
}

// Sets a flag for as long as the object lives, on every way out.
class Raised {
public:
    explicit Raised(bool& flag, bool on = true) : flag_(flag) { flag_ = on; }
    ~Raised() { flag_ = false; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& flag_;
};

// Hands out a refresh's 4096-byte chunks exactly as reads of 4096 bytes would return them, from
// reads that double in size up to 1 MiB while each comes back whole: a filtered scan over a whole
// device makes few system calls, and a page reads little more than it shows. A read that fails is
// made again in 4096-byte reads, so an error ends the data where the chunked reads would have.
class ChunkReader {
public:
    // chunks: the most the refresh can ask for.
    ChunkReader(platform::RawStream& stream, int64_t start, int64_t chunks)
        : stream_(stream), position_(start), left_(chunks) {}

    // The next chunk's size (data() holds its bytes), or the error a read of it gave.
    platform::Result<int64_t> next() {
        if (at_ == have_ && !ended_ && !small_) fill();
        if (small_) {
            buffer_.resize(kChunkSize);
            at_ = 0;
            return stream_.read(buffer_.data(), kChunkSize);
        }
        chunk_ = at_;
        const int64_t n = std::min<int64_t>(kChunkSize, have_ - at_);
        at_ += n;
        return n;
    }
    const uint8_t* data() const { return buffer_.data() + (small_ ? 0 : chunk_); }

private:
    void fill() {
        const int64_t want = left_ >= size_ / kChunkSize ? size_ : left_ * kChunkSize;
        if (want <= 0) {
            ended_ = true;
            return;
        }
        buffer_.resize(size_t(want));
        const auto n = stream_.read(buffer_.data(), want);
        if (!n) {
            small_ = stream_.seek(position_, platform::SeekOrigin::Begin).valueOr(-1) == position_;
            ended_ = !small_;
            at_ = have_ = 0;
            return;
        }
        at_ = 0;
        have_ = *n;
        ended_ = *n < want; // a short read only happens where the data ends
        position_ += *n;
        left_ -= (*n + kChunkSize - 1) / kChunkSize;
        size_ = std::min<int64_t>(size_ * 2, kMaxRead);
    }

    // Small enough that the bytes are still in the processor's cache when the filter looks at them.
    static constexpr int64_t kMaxRead = 256 * 1024;
    platform::RawStream& stream_;
    int64_t position_;
    int64_t left_;
    int64_t size_ = kChunkSize;
    std::vector<uint8_t> buffer_;
    int64_t chunk_ = 0, at_ = 0, have_ = 0;
    bool ended_ = false, small_ = false;
};

// a + b, held at the ends of the 64-bit range instead of wrapping.
int64_t saturatedAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? INT64_MAX : INT64_MIN;
}

} // namespace

int rowWidthForClientWidth(int clientWidth, int current) {
    if (clientWidth > 800) return 32;
    if (clientWidth < 640) return 16;
    return current == 32 ? 32 : 16;
}

int columnWidth(int column, int rowWidth) {
    if (column == 0) return kAddressWidth;
    if (column == rowWidth + 1) return rowWidth * 8 + 16;
    if (column == rowWidth || column == 8) return 24;
    if (column == 16) return 28;
    if (rowWidth == 32 && column == 24) return 24;
    return 16;
}

const std::vector<std::string>& filterNames() {
    static const std::vector<std::string> names{"None", "Skip blank", "Ascii", "More ascii"};
    return names;
}

bool passesFilter(const uint8_t* block, size_t size, Filter filter) {
    switch (filter) {
    case Filter::None:
        return true;
    case Filter::SkipBlank:
        return !inspect::allBytesAre(block, size, 0) && !inspect::allBytesAre(block, size, 255);
    case Filter::Ascii: {
        const auto counts = inspect::countClasses(block, size);
        return counts.text > 20 || counts.text > counts.other(int64_t(size));
    }
    case Filter::MoreAscii:
        return inspect::countClasses(block, size).text > 200;
    }
    return true;
}

bool matchesSearch(const uint8_t* block, size_t size, const Search& search) {
    bool found = true;
    if (!search.ascii.empty()) {
        const auto* first = reinterpret_cast<const uint8_t*>(search.ascii.data());
        const auto* last = first + search.ascii.size();
        if (search.caseSensitive)
            found = std::search(block, block + size, first, last) != block + size;
        else
            found = std::search(block, block + size, first, last, [](uint8_t a, uint8_t b) {
                        return lowerAscii(a) == lowerAscii(b);
                    }) != block + size;
    }
    if (!search.hex.empty()) {
        std::string wanted = search.hex;
        for (char& c : wanted)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        // Two digits a byte and no separators, so a match may start at either digit of a byte.
        std::string text(size * 2, '0');
        for (size_t i = 0; i < size; ++i) {
            text[2 * i] = kDigits[block[i] >> 4];
            text[2 * i + 1] = kDigits[block[i] & 15];
        }
        found = text.find(wanted) != std::string::npos;
    }
    return found;
}

std::string hexAddress(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::string textColumn(const uint8_t* bytes, size_t size) {
    std::string text;
    text.reserve(size + size / 8 + size / 16);
    for (size_t i = 0; i < size; ++i) {
        text += bytes[i] >= 32 && bytes[i] <= 126 ? char(bytes[i]) : '.';
        if ((i + 1) % 8 == 0) text += ' ';
        if ((i + 1) % 16 == 0) text += ' ';
    }
    return text;
}

std::string displayingText(int64_t bytes) {
    return "Displaying " + std::to_string(bytes) + " bytes (" + std::to_string(bytes / 1024) + "kB)";
}

std::string readText(int64_t bytes) {
    return "Read " + std::to_string(bytes) + " bytes (" + std::to_string(bytes / 1024) + "kB)";
}

int64_t jumpTarget(const std::string& text) {
    int64_t value = 0;
    try {
        value = selection::parseInteger(text, true);
    } catch (const std::exception&) {
        value = 0; // the box reads as 0 when it holds no number
    }
    // The largest multiple of 512 not above it (two's complement: also for "negative" addresses).
    return value & ~int64_t(kBlockSize - 1);
}

bool keyAllowed(char32_t key) {
    return key == 8 || isHexDigit(key);
}

std::string invalidDigitsMessage(const std::string& text) {
    return "\"" + text +
           "\" is not a valid hexadecimal digit.\nA 2-digit valid hexadicemal number is needed.";
}

// --- Page -----------------------------------------------------------------------------------

Page::Page(int rowWidth) : rowWidth_(rowWidth) {}

void Page::clear(int rowWidth) {
    rowWidth_ = rowWidth;
    blocks_.clear();
    blocks_.reserve(size_t(pageBlocks(rowWidth)));
}

void Page::addBlock(int64_t address, const uint8_t* bytes, size_t size) {
    Block& b = blocks_.emplace_back();
    b.address = address;
    b.size = int(std::min<size_t>(size, kBlockSize));
    std::copy_n(bytes, b.size, b.bytes.begin());
}

int Page::rowsOfBlock(int block) const {
    if (block < 0 || block >= blockCount()) return 0;
    return (blocks_[size_t(block)].size + rowWidth_ - 1) / rowWidth_;
}

int Page::filledRows() const {
    int rows = 0;
    for (int b = 0; b < blockCount(); ++b)
        rows += rowsOfBlock(b);
    return rows;
}

bool Page::locate(int row, int& block, int& offset) const {
    if (row < 0) return false;
    block = row / rowsPerBlock();
    if (block >= blockCount()) return false;
    offset = row % rowsPerBlock() * rowWidth_;
    return offset < blocks_[size_t(block)].size;
}

std::string Page::headerText(int column) const {
    if (blocks_.empty() || column < 1 || column > rowWidth_) return {};
    return byteText(uint8_t(column - 1));
}

std::optional<int64_t> Page::rowAddress(int row) const {
    int block = 0, offset = 0;
    if (!locate(row, block, offset)) return std::nullopt;
    return blocks_[size_t(block)].address + offset;
}

std::optional<uint8_t> Page::byteAt(int row, int column) const {
    int block = 0, offset = 0;
    if (column < 1 || column > rowWidth_ || !locate(row, block, offset)) return std::nullopt;
    const Block& b = blocks_[size_t(block)];
    const int at = offset + column - 1;
    if (at >= b.size) return std::nullopt;
    return b.bytes[size_t(at)];
}

std::optional<int64_t> Page::byteAddress(int row, int column) const {
    if (!byteAt(row, column)) return std::nullopt;
    return *rowAddress(row) + column - 1;
}

std::optional<int64_t> Page::selectedAddress(int row, int column) const {
    if (column >= 1 && column <= rowWidth_) return byteAddress(row, column);
    return rowAddress(row);
}

void Page::setByte(int row, int column, uint8_t value) {
    int block = 0, offset = 0;
    if (!byteAt(row, column) || !locate(row, block, offset)) return;
    blocks_[size_t(block)].bytes[size_t(offset + column - 1)] = value;
}

std::string Page::cellText(int row, int column) const {
    int block = 0, offset = 0;
    if (!locate(row, block, offset)) return {};
    const Block& b = blocks_[size_t(block)];
    if (column == 0) return hexAddress(b.address + offset);
    if (column == textColumnIndex())
        return textColumn(b.bytes.data() + offset, size_t(std::min(rowWidth_, b.size - offset)));
    const auto value = byteAt(row, column);
    return value ? byteText(*value) : std::string();
}

bool Page::alternate(int row) const {
    if (row < 0) return false;
    const int block = row / rowsPerBlock();
    return block < blockCount() && block % 2 == 1;
}

std::vector<std::string> Page::lines() const {
    std::vector<std::string> out;
    if (blocks_.empty()) return out;
    size_t addressWidth = 8;
    const int rows = blockCount() * rowsPerBlock();
    for (int row = 0; row < rows; ++row)
        if (auto a = rowAddress(row)) addressWidth = std::max(addressWidth, hexAddress(*a).size());
    // The grid's wider columns (8, 16, 24 and the last byte) read as an extra blank.
    const auto cells = [&](auto cell) {
        std::string line;
        for (int c = 1; c <= rowWidth_; ++c) {
            line += cell(c);
            line += c == rowWidth_ ? "  " : c % 8 == 0 ? "  " : " ";
        }
        return line;
    };
    std::string header = std::string(addressWidth, ' ') + "  " + cells([&](int c) { return headerText(c); });
    while (header.back() == ' ')
        header.pop_back();
    out.push_back(header);
    for (int row = 0; row < rows; ++row) {
        const auto address = rowAddress(row);
        if (!address) continue;
        std::string line = hexAddress(*address);
        line.insert(0, addressWidth - line.size(), ' ');
        line += "  " + cells([&](int c) {
                    const std::string t = cellText(row, c);
                    return t.empty() ? std::string("  ") : t;
                });
        line += cellText(row, textColumnIndex());
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

// --- Viewer ---------------------------------------------------------------------------------

Viewer::Viewer(platform::Backend& backend, TFileInfo file) : backend_(backend), file_(std::move(file)) {}

bool Viewer::fitToClientWidth(int clientWidth) {
    const int width = rowWidthForClientWidth(clientWidth, rowWidth_);
    if (width == rowWidth_) return false;
    rowWidth_ = width;
    return true;
}

bool Viewer::editable(int row, int column) const {
    return !readOnly_ && page_.byteAt(row, column).has_value();
}

void Viewer::back(int64_t distance) {
    file_.Offset = saturatedAdd(file_.Offset, -distance);
    if (file_.Offset < file_.BaseOffset) file_.Offset = file_.BaseOffset;
}

void Viewer::forward(int64_t distance) {
    const int64_t end = saturatedAdd(file_.BaseOffset, file_.Size);
    file_.Offset = saturatedAdd(file_.Offset, distance);
    if (saturatedAdd(file_.Offset, navigationSpan(rowWidth_)) > end)
        file_.Offset = end - navigationSpan(rowWidth_);
    if (file_.Offset < file_.BaseOffset) file_.Offset = file_.BaseOffset;
}

void Viewer::toStart() {
    file_.Offset = file_.BaseOffset;
}

void Viewer::toEnd() {
    file_.Offset =
        std::max(saturatedAdd(file_.BaseOffset, file_.Size) - navigationSpan(rowWidth_), file_.BaseOffset);
}

void Viewer::jump(const std::string& text) {
    file_.Offset = jumpTarget(text);
}

RefreshResult Viewer::refresh(Dialogs& dialogs, JobControl& job, Display& display, Kind kind) {
    if (refreshing_) return RefreshResult::Ignored;
    if (rowWidth_ == 0) rowWidth_ = 16;
    const int rowWidth = rowWidth_;
    const int64_t start = file_.Offset;
    const Filter filter = filter_;
    const Search search = search_;

    jobs::RangeJob range(backend_, dialogs, job, jobs::RangeJob::Busy::No);
    auto stream = range.open(file_, platform::OpenMode::Read, openFailure());
    if (!stream) return RefreshResult::Failed;
    if (!range.position(*stream, start, "Seek failed, data position unreliable"))
        return RefreshResult::Failed;

    Raised refreshing(refreshing_);
    Raised searching(searching_, kind == Kind::Search);
    Raised writing(writing_, kind == Kind::AfterWrite);
    display.info(kReadingInfo);
    display.status({});
    range.offerStop(); // clears an earlier stop request
    page_.clear(rowWidth);
    display.cleared();

    const int64_t budget = file_.Size / kBlockSize;
    const int page = pageBlocks(rowWidth);
    ChunkReader reader(*stream, start, (budget + 7) / 8);
    int64_t got = 0; // bytes of the current chunk
    int64_t bytesRead = 0;
    int displayed = 0;
    bool stopped = false;
    for (int64_t k = 0; k < budget && displayed < page; ++k) {
        if (k % 8 == 0) {
            const auto n = reader.next();
            if (!n) {
                display.status("Failed to read " + file_.Description + " at byte " +
                               std::to_string(start + k * kBlockSize) + ": " + n.error().text);
            }
            got = n ? *n : 0;
            bytesRead += got;
            if (got <= 0) break;
        }
        const int64_t at = k % 8 * kBlockSize;
        const uint8_t* block = reader.data() + at;
        const auto size = size_t(std::min<int64_t>(kBlockSize, got - at));
        if (passesFilter(block, size, filter) &&
            (kind != Kind::Search || matchesSearch(block, size, search))) {
            ++displayed;
            page_.addBlock(start + k * kBlockSize, block, size);
            display.info(displayingText(int64_t(displayed) * kBlockSize));
            display.address(hexAddress(start));
            display.blockAdded(displayed - 1);
        }
        if (k % kReadEvery == 0) {
            display.readCount(readText(bytesRead));
            job.pump();
        }
        if (job.stopRequested()) {
            stopped = true;
            break;
        }
        // The last block that holds data of a short chunk was the last of the data.
        if (got < kChunkSize && at + kBlockSize >= got) break;
    }
    return stopped ? RefreshResult::Stopped : RefreshResult::Done;
}

std::optional<std::string> Viewer::select(int row, int column) const {
    const auto address = page_.selectedAddress(row, column);
    if (!address) return std::nullopt;
    return hexAddress(*address);
}

EditResult Viewer::edit(Dialogs& dialogs, JobControl& job, Display& display, int row, int column,
                        const std::string& text) {
    if (readOnly_ || writing_ || text.size() != 2) return EditResult::Ignored;
    const auto address = page_.byteAddress(row, column);
    const auto current = page_.byteAt(row, column);
    if (!address || !current) return EditResult::Ignored;
    if (!isHexDigit(char32_t(uint8_t(text[0]))) || !isHexDigit(char32_t(uint8_t(text[1])))) {
        dialogs.message(invalidDigitsMessage(text));
        return EditResult::Invalid;
    }
    const auto value = uint8_t(hexValue(text[0]) << 4 | hexValue(text[1]));
    if (value == *current) return EditResult::Unchanged;
    if (!writeConfirmed_) {
        TFileInfo target = file_;
        target.Offset = *address;
        target.Size = 1;
        if (!gate::ConfirmOverwrite(backend_, dialogs, target)) return EditResult::Refused;
        writeConfirmed_ = true;
    }
    const bool written = writeByte(dialogs, job, *address, value);
    // Shown at once, even when a running refresh makes the one below return at once.
    if (written) page_.setByte(row, column, value);
    refresh(dialogs, job, display, Kind::AfterWrite);
    return written ? EditResult::Written : EditResult::Failed;
}

bool Viewer::writeByte(Dialogs& dialogs, JobControl& job, int64_t address, uint8_t value) {
    jobs::RangeJob range(backend_, dialogs, job, jobs::RangeJob::Busy::No);
    // Exclusive: a device with a mounted file system is not written behind the kernel's back.
    auto stream = range.open(file_, platform::OpenMode::ReadWrite, openFailure());
    if (!stream) return false;
    // The aligned 512-byte block around the byte, counted from byte 0 of the device or file.
    const int64_t blockStart = address - address % kBlockSize;
    if (!stream->seek(blockStart, platform::SeekOrigin::Begin)) {
        dialogs.message("Failed to seek this address");
        return false;
    }
    const auto position = stream->position();
    if (!position || *position != blockStart) {
        dialogs.message("Seek failed - reported position does not match address");
        return false;
    }
    std::array<uint8_t, kBlockSize> block{};
    const auto got = stream->read(block.data(), kBlockSize);
    const int64_t at = address - blockStart;
    // The byte must be among what was read (a file may have shrunk since the refresh), and exactly
    // what was read goes back, so a file never grows.
    bool ok = got && *got > at;
    if (ok) {
        block[size_t(at)] = value;
        const auto back = stream->seek(blockStart, platform::SeekOrigin::Begin);
        ok = back && *back == blockStart;
    }
    if (ok) {
        const auto put = stream->write(block.data(), *got);
        ok = put && *put == *got;
    }
    // A value is reported written only once the device or file holds it.
    if (ok) ok = stream->flush().ok();
    if (!ok) dialogs.message("Failed to write value");
    return ok;
}

} // namespace hexview
