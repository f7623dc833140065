#include "containers/mini_zip.h"

#include "containers/stream_adapters.h"
#include "containers/zlib_stream.h"
#include "core/byte_order.h"
#include "core/user_error.h"
#include "jobs/block_engine.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace containers {
namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr int64_t kZip64Locator = 20;
constexpr int64_t kLocalHeader = 30;
constexpr int64_t kCentralHeader = 46;
constexpr int64_t kEndRecord = 22;
// The lowest place the end record is looked for: 20 records' worth before the end, and 3 more.
constexpr int64_t kEndSearch = 443;
constexpr int64_t kPiece = 65536;
constexpr int64_t kEngineBuffer = 1 << 20;
constexpr int kEngineBuffers = 4;
// Windows file attributes, which the entries carry.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

using le::get16;
using le::get32;
using le::put16;
using le::put32;

std::string num(int64_t v) {
    return std::to_string(v);
}

bool readExactly(platform::RawStream& s, void* into, int64_t count) {
    const auto n = s.read(into, count);
    return n && *n == count;
}

bool writeExactly(platform::RawStream& s, const void* from, int64_t count, platform::Error& error) {
    const auto n = s.write(from, count);
    if (n && *n == count) return true;
    error = n ? platform::errnoError(ENOSPC) : n.error();
    return false;
}

bool seekTo(platform::RawStream& s, int64_t offset) {
    return s.seek(offset, platform::SeekOrigin::Begin).valueOr(-1) == offset;
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

// Why `archive` cannot be appended to: no end record where it is looked for, or a directory
// that does not read as one.
std::string cannotAppend(const std::string& file, platform::RawStream& archive) {
    const std::string text = "Cannot append to " + file + ": it is not a zip archive";
    if (FindEndRecord(archive)) return text;
    const int64_t length = archive.length().valueOr(0);
    if (length <= 0) return text + " (it is empty)";
    if (length < kEndSearch) return text + " (no end record in its " + num(length) + " bytes)";
    return text + " (no end record in its last " + num(kEndSearch) + " bytes)";
}

// Bit 11 of the flags: the name is UTF-8. Left clear for plain ASCII, and for a name that is not
// UTF-8 (a tool that trusted the bit would refuse to read it).
uint16_t nameFlags(const std::string& name) {
    bool wide = false;
    for (size_t i = 0; i < name.size();) {
        const auto c = uint8_t(name[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        wide = true;
        const size_t more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
        if (more == 0 || i + more >= name.size()) return 0;
        uint32_t code = c & (0x3F >> more);
        for (size_t k = 1; k <= more; ++k) {
            const auto d = uint8_t(name[i + k]);
            if ((d & 0xC0) != 0x80) return 0;
            code = code << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode's end are not UTF-8.
        constexpr uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
        i += more + 1;
    }
    return wide ? 0x0800 : 0;
}

// The entry's time: the source file's last change, or now for a device.
uint32_t entryTime(const std::string& source) {
    std::error_code ec;
    std::time_t when = std::time(nullptr);
    if (std::filesystem::is_regular_file(source, ec)) {
        const auto changed = std::filesystem::last_write_time(source, ec);
        if (!ec) when = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(changed));
    }
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &when) != 0) return DosDateTime(1980, 1, 1, 0, 0, 0);
#else
    if (!localtime_r(&when, &local)) return DosDateTime(1980, 1, 1, 0, 0, 0);
#endif
    return DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec);
}

// What the system says about the source as Windows file attributes; 0 for a device.
uint32_t entryAttributes(const std::string& source) {
    std::error_code ec;
    const auto status = std::filesystem::status(source, ec);
    if (ec) return 0;
    if (status.type() == std::filesystem::file_type::directory) return kAttributeDirectory;
    if (status.type() != std::filesystem::file_type::regular) return 0;
    const bool writable =
        (status.permissions() & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
    return kAttributeArchive | (writable ? 0 : kAttributeReadOnly);
}

// Hands what the block engine reads on to the deflate writer, counting it.
class DeflateSink final : public detail::StreamAdapter {
public:
    DeflateSink(BodyWriter& writer, std::function<void()> idle) : writer_(writer), idle_(std::move(idle)) {}

    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        const auto* data = static_cast<const uint8_t*>(buffer);
        for (int64_t done = 0; done < count;) {
            const int64_t piece = std::min<int64_t>(count - done, kPiece);
            if (auto r = writer_.write(data + done, size_t(piece)); !r) return r.error();
            if (idle_) idle_();
            done += piece;
            taken_ += piece;
        }
        return count;
    }
    int64_t taken() const { return taken_; }

private:
    BodyWriter& writer_;
    std::function<void()> idle_;
    int64_t taken_ = 0;
};

} // namespace

uint32_t TZipFileEntry::crc() const {
    return get32(Header.data() + 16);
}
uint32_t TZipFileEntry::compressedSize() const {
    return get32(Header.data() + 20);
}
uint32_t TZipFileEntry::uncompressedSize() const {
    return get32(Header.data() + 24);
}
uint16_t TZipFileEntry::nameLength() const {
    return get16(Header.data() + 28);
}
uint16_t TZipFileEntry::extraLength() const {
    return get16(Header.data() + 30);
}
uint16_t TZipFileEntry::commentLength() const {
    return get16(Header.data() + 32);
}
uint32_t TZipFileEntry::localHeaderOffset() const {
    return get32(Header.data() + 42);
}

uint16_t EndRecord::diskNumber() const {
    return get16(bytes.data() + 4);
}
uint16_t EndRecord::directoryDisk() const {
    return get16(bytes.data() + 6);
}
uint16_t EndRecord::entriesOnDisk() const {
    return get16(bytes.data() + 8);
}
uint16_t EndRecord::entriesTotal() const {
    return get16(bytes.data() + 10);
}
uint32_t EndRecord::directorySize() const {
    return get32(bytes.data() + 12);
}
uint32_t EndRecord::directoryOffset() const {
    return get32(bytes.data() + 16);
}
uint16_t EndRecord::commentLength() const {
    return get16(bytes.data() + 20);
}
void EndRecord::setDirectoryOffset(uint32_t offset) {
    put32(bytes.data() + 16, offset);
}

TSFileStream::TSFileStream(platform::Backend& backend, const std::string& fileName, Mode mode)
    : fileName_(fileName) {
    if (mode == Mode::Read) {
        auto opened = backend.open(fileName, platform::OpenMode::Read);
        if (!opened) throw UserError(detail::cannotOpenFile(fileName, opened.error().text));
        stream_ = std::move(*opened);
        return;
    }
    auto created = jobs::OutputFile::create(
        backend, fileName, mode == Mode::Create ? jobs::Existing::Replace : jobs::Existing::Append);
    if (!created) {
        if (mode == Mode::Create)
            throw UserError("Cannot create file \"" + fullPath(fileName) + "\". " + created.error().text);
        throw UserError(detail::cannotOpenFile(fileName, created.error().text));
    }
    output_ = std::move(*created);
}

TSFileStream::TSFileStream(std::unique_ptr<platform::RawStream> stream, std::string fileName)
    : stream_(std::move(stream)), fileName_(std::move(fileName)) {}

TSFileStream::~TSFileStream() = default;

platform::Result<void> TSFileStream::Commit() {
    if (output_) return output_->commit();
    return stream_->flush();
}

int64_t TSFileStream::ReadCounted(std::string& S, int64_t n) {
    S.assign(size_t(std::max<int64_t>(n, 0)), '\0');
    if (n <= 0) return 0;
    const auto got = stream_->read(S.data(), n);
    return got ? *got : 0;
}

int64_t TSFileStream::WriteCounted(const std::string& S, int64_t n) {
    n = std::min<int64_t>(n, int64_t(S.size()));
    if (n <= 0) return 0;
    const auto put = stream_->write(S.data(), n);
    return put ? *put : 0;
}

std::optional<EndRecord> FindEndRecord(platform::RawStream& archive) {
    const auto length = archive.length();
    if (!length) return std::nullopt;
    const int64_t size = *length;
    const int64_t from = std::max<int64_t>(0, size - kEndSearch);
    std::vector<uint8_t> tail(size_t(size - from));
    if (!seekTo(archive, from) || !readExactly(archive, tail.data(), int64_t(tail.size())))
        return std::nullopt;
    // From 5 bytes before the end down to the lowest place, one byte at a time.
    for (int64_t p = size - 5; p >= from; --p) {
        if (get32(tail.data() + (p - from)) != kEndSignature) continue;
        EndRecord end;
        end.position = p;
        if (!seekTo(archive, p) || !readExactly(archive, end.bytes.data(), kEndRecord)) return std::nullopt;
        // The comment as far as the file holds it.
        const int64_t comment = std::min<int64_t>(end.commentLength(), size - (p + kEndRecord));
        end.comment.resize(size_t(comment));
        if (comment > 0 && !readExactly(archive, end.comment.data(), comment)) return std::nullopt;
        return end;
    }
    return std::nullopt;
}

std::optional<std::vector<TZipFileEntry>> ReadCentralDirectory(platform::RawStream& archive,
                                                               const EndRecord& end) {
    // Spanned archives and 64-bit ones cannot be appended to without their other parts. A 64-bit
    // archive has its locator right before the end record (a count of 65535 alone is a real one).
    if (end.diskNumber() != 0 || end.directoryDisk() != 0 || end.entriesOnDisk() != end.entriesTotal() ||
        end.directorySize() == 0xFFFFFFFF || end.directoryOffset() == 0xFFFFFFFF)
        return std::nullopt;
    uint8_t locator[4] = {};
    if (end.position >= kZip64Locator && seekTo(archive, end.position - kZip64Locator) &&
        readExactly(archive, locator, 4) && get32(locator) == kZip64LocatorSignature)
        return std::nullopt;
    const int64_t limit = end.position;
    int64_t at = end.directoryOffset();
    const int64_t count = end.entriesOnDisk();
    // Each entry takes at least its fixed part: a count the file cannot hold is refused before
    // anything is allocated for it.
    if (at > limit || count * kCentralHeader > limit - at || !seekTo(archive, at)) return std::nullopt;
    std::vector<TZipFileEntry> entries;
    entries.reserve(size_t(count));
    for (int64_t i = 0; i < count; ++i) {
        TZipFileEntry e;
        if (!readExactly(archive, e.Header.data(), kCentralHeader) ||
            get32(e.Header.data()) != kCentralSignature)
            return std::nullopt;
        const int64_t variable = int64_t(e.nameLength()) + e.extraLength() + e.commentLength();
        if (variable > limit - at - kCentralHeader) return std::nullopt;
        e.FileName.resize(e.nameLength());
        e.ExtraField.resize(e.extraLength());
        e.FileComment.resize(e.commentLength());
        for (std::string* part : {&e.FileName, &e.ExtraField, &e.FileComment})
            if (!part->empty() && !readExactly(archive, part->data(), int64_t(part->size())))
                return std::nullopt;
        at += kCentralHeader + variable;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string NormalizeEntryName(const std::string& name) {
    std::string n = name;
    std::replace(n.begin(), n.end(), '\\', '/');
    if (!n.empty() && n[0] == '/') n.erase(0, 1);
    return n;
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) return uint32_t(1 << 5 | 1) << 16; // 1980-01-01 00:00:00
    if (year > 2107) {
        year = 2107;
        month = 12;
        day = 31;
        hour = 23;
        minute = 59;
        second = 58;
    }
    const uint32_t date = uint32_t((year - 1980) << 9 | month << 5 | day);
    const uint32_t time = uint32_t(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}

TMiniZip::TMiniZip(platform::Backend& backend) : backend_(backend) {}

TMiniZip::~TMiniZip() {
    CloseArchive();
}

bool TMiniZip::fail(const std::string& text) {
    errorText_ = text;
    return false;
}

bool TMiniZip::OpenArchive(const std::string& ArchiveName, bool Overwrite) {
    errorText_.clear();
    if (!Overwrite && archive_ && ArchiveName == archiveName_) return true;
    if (!CloseArchive()) return false;
    archive_.reset();
    end_ = EndRecord{};
    entries_.clear();
    modified_ = false;
    appendable_ = false;
    readOnlyReason_.clear();
    archiveName_ = ArchiveName;
    if (Overwrite) {
        archive_ = std::make_unique<TSFileStream>(backend_, ArchiveName, TSFileStream::Mode::Create);
        openedLength_ = 0;
        appendable_ = true;
        return true;
    }
    // What cannot take the archive (a link, a device...) is refused before anything is read through it.
    if (const auto why = jobs::outputRefusal(backend_, ArchiveName, jobs::Existing::Append))
        throw UserError(detail::cannotOpenFile(ArchiveName, *why));
    // Looked at first: a file that is no archive is never copied or changed.
    archive_ = std::make_unique<TSFileStream>(backend_, ArchiveName, TSFileStream::Mode::Read);
    platform::RawStream& s = archive_->stream();
    openedLength_ = s.length().valueOr(0);
    auto end = FindEndRecord(s);
    auto directory = end ? ReadCentralDirectory(s, *end) : std::nullopt;
    if (!directory) return fail(cannotAppend(ArchiveName, archive_->stream()));
    try {
        archive_ = std::make_unique<TSFileStream>(backend_, ArchiveName, TSFileStream::Mode::ReadWrite);
        // What was copied is what counts: the file may have changed since it was looked at.
        end = FindEndRecord(archive_->stream());
        directory = end ? ReadCentralDirectory(archive_->stream(), *end) : std::nullopt;
        if (!directory) return fail(cannotAppend(ArchiveName, archive_->stream()));
    } catch (const UserError& e) {
        // Read-only, the archive can still be looked at; adding to it is refused with this reason.
        readOnlyReason_ = e.what();
    }
    end_ = *end;
    for (auto& e : *directory) {
        std::string name = e.FileName;
        entries_.emplace_back(std::move(name), std::move(e));
    }
    appendable_ = true;
    return true;
}

void TMiniZip::putLocalHeader(std::array<uint8_t, 30>& local, const TZipFileEntry& entry,
                              uint32_t uncompressed) {
    const uint8_t* c = entry.Header.data();
    put32(local.data(), kLocalSignature);
    put16(local.data() + 4, 20);             // version needed
    put16(local.data() + 6, get16(c + 8));   // flags
    put16(local.data() + 8, 8);              // deflate
    put32(local.data() + 10, get32(c + 12)); // DOS time and date
    put32(local.data() + 14, entry.crc());   // CRC-32
    put32(local.data() + 18, entry.compressedSize());
    put32(local.data() + 22, uncompressed);
    put16(local.data() + 26, entry.nameLength());
    put16(local.data() + 28, 0); // extra field length
}

bool TMiniZip::AddEntry(const std::string& SourceFile, const std::string& EntryName, int64_t StartOffset,
                        int64_t ByteCount) {
    errorText_.clear();
    // An entry refused whatever the source: refused there, before the source is opened.
    if (EntryName.empty() || !archive_ || ByteCount < 0 || ByteCount > kMaxEntryBytes)
        return AddEntry(nullptr, SourceFile, EntryName, StartOffset, ByteCount);
    auto source = backend_.open(SourceFile, platform::OpenMode::Read);
    if (!source) return fail("Failed to open " + SourceFile + " for reading, " + source.error().text);
    return AddEntry(std::move(*source), SourceFile, EntryName, StartOffset, ByteCount);
}

bool TMiniZip::AddEntry(std::unique_ptr<platform::RawStream> source, const std::string& SourceFile,
                        const std::string& EntryName, int64_t StartOffset, int64_t ByteCount) {
    errorText_.clear();
    lastEntryBytes_ = 0;
    lastEntryAborted_ = false;
    lastReadError_.reset();
    const std::string name = NormalizeEntryName(EntryName);
    if (name.empty()) return fail("The entry has no name. Nothing was added.");
    if (!archive_) return fail("No zip archive is open. Nothing was added.");
    if (ByteCount < 0 || ByteCount > kMaxEntryBytes)
        return fail("A zip entry holds at most " + num(kMaxEntryBytes) + " bytes; " + num(ByteCount) +
                    " bytes were asked. Nothing was added.");
    if (!appendable_) return fail(cannotAppend(archiveName_, archive_->stream()));
    if (!readOnlyReason_.empty()) return fail(readOnlyReason_);
    if (name.size() > 0xFFFF)
        return fail("The entry's name is longer than a zip archive can hold. Nothing was added.");
    if (entries_.size() >= kMaxEntries)
        return fail(archiveName_ + " already holds " + num(int64_t(kMaxEntries)) +
                    " entries, the most a zip archive can hold. Nothing was added.");
    if (!source) return fail("Failed to open " + SourceFile + " for reading");
    if (StartOffset < 0 || !seekTo(*source, StartOffset))
        return fail("Failed to seek to byte " + num(StartOffset) + " of " + SourceFile +
                    ". Nothing was added.");

    platform::RawStream& archive = archive_->stream();
    const auto lengthNow = archive.length();
    if (!lengthNow) return fail("Failed to read " + archiveName_ + ", " + lengthNow.error().text);
    const int64_t lengthBefore = *lengthNow;
    const int64_t localAt = end_.directoryOffset();
    // The worst case: data that does not compress at all, then the directory with this entry and
    // the end record, all within the 32-bit offsets.
    int64_t directory = kCentralHeader + int64_t(name.size());
    for (const auto& [n, e] : entries_)
        directory += e.directoryBytes();
    const int64_t entryEnd = localAt + kLocalHeader + int64_t(name.size()) + deflatedBound(ByteCount);
    const int64_t after = directory + kEndRecord + int64_t(end_.comment.size());
    const std::string tooLarge = "Adding " + num(ByteCount) + " bytes could make " + archiveName_ +
                                 " larger than 4 GiB, the most a zip archive can hold. Nothing was added.";
    if (std::max(entryEnd, lengthBefore) + after > kMaxArchiveBytes) return fail(tooLarge);

    TZipFileEntry entry;
    entry.FileName = name;
    uint8_t* c = entry.Header.data();
    put32(c, kCentralSignature);
    c[4] = 22; // made by: zip format version 2.2
    c[5] = 11; // made by: host system
    put16(c + 6, 20);
    put16(c + 8, nameFlags(name));
    put16(c + 10, 8);
    put32(c + 12, entryTime(SourceFile));
    put32(c + 24, uint32_t(ByteCount));
    put16(c + 28, uint32_t(name.size()));
    put16(c + 36, 1); // internal attributes
    put32(c + 38, entryAttributes(SourceFile));
    put32(c + 42, uint32_t(localAt));

    // A failed write leaves the archive as it was: what the entry wrote past the old end goes,
    // and the directory it wrote over is written again by CloseArchive.
    const auto failed = [&](const std::string& text) {
        if (lengthBefore > localAt) modified_ = true;
        (void)archive.truncate(lengthBefore);
        return fail(text);
    };
    const auto writeFailed = [&](const platform::Error& e) {
        return failed(e.text == kCompressorFailed ? e.text
                                                  : "Failed to write to " + archiveName_ + ", " + e.text);
    };

    // Raw deflate writes nothing until it is given data: the writer starts where the name ends.
    auto writer = makeBodyWriter(codec, archive, threads, Framing::Raw);
    if (!writer) return fail(std::string(kCompressorFailed) + " Nothing was added.");
    std::array<uint8_t, 30> local{};
    putLocalHeader(local, entry, uint32_t(ByteCount));
    platform::Error error;
    if (!seekTo(archive, localAt)) return fail("Failed to seek on " + archiveName_ + ". Nothing was added.");
    if (!writeExactly(archive, local.data(), kLocalHeader, error) ||
        !writeExactly(archive, name.data(), int64_t(name.size()), error))
        return writeFailed(error);

    bool abort = false;
    if (OnProgress) OnProgress(*this, ptZipStart, SourceFile, source->length().valueOr(0), abort);
    abort = false; // a stop asked during the start report has no effect

    DeflateSink sink(**writer, OnIdle);
    blocks::Plan plan;
    plan.size = ByteCount;
    plan.block = kPiece;
    plan.buffer = kEngineBuffer;
    plan.buffers = kEngineBuffers;
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t total) {
        if (OnProgress) OnProgress(*this, ptZipStart, SourceFile, total, abort);
        return !abort;
    };
    callbacks.waiting = [&] {
        if (OnIdle) OnIdle();
        return true;
    };
    if (Digests) callbacks.counted = [this](const uint8_t* data, int64_t size) { Digests->add(data, size); };
    const auto moved = blocks::run(*source, sink, plan, callbacks);
    source.reset();
    lastReadError_ = moved.readError;
    if (moved.writeError) return writeFailed(*moved.writeError);
    if (auto r = (*writer)->finish(); !r) return writeFailed(r.error());
    const int64_t compressed = (*writer)->bytesOut();
    const uint32_t crc = (*writer)->checksum();
    writer->reset(); // its threads end here
    // Never past what the 32-bit offsets hold, should the bound ever be wrong.
    if (std::max(localAt + kLocalHeader + int64_t(name.size()) + compressed, lengthBefore) + after >
        kMaxArchiveBytes)
        return failed(tooLarge);

    // The entry says what it holds: a source that ended early or a stop gives fewer bytes.
    put32(c + 16, crc);
    put32(c + 20, uint32_t(compressed));
    put32(c + 24, uint32_t(sink.taken()));
    putLocalHeader(local, entry, uint32_t(sink.taken()));
    if (!seekTo(archive, localAt) || !writeExactly(archive, local.data(), kLocalHeader, error))
        return writeFailed(error.text.empty() ? platform::errnoError(EIO) : error);

    entries_.emplace_back(name, std::move(entry));
    modified_ = true;
    // The next entry, or the directory, goes at the end of the file (never before its old end).
    end_.setDirectoryOffset(uint32_t(archive.length().valueOr(localAt)));
    lastEntryBytes_ = sink.taken();
    lastEntryAborted_ = moved.stopped;
    return sink.taken() == ByteCount;
}

bool TMiniZip::CloseArchive() {
    if (!modified_ || !archive_) return true;
    errorText_.clear();
    EndRecord end = end_;
    put32(end.bytes.data(), kEndSignature);
    put16(end.bytes.data() + 8, uint32_t(entries_.size()));
    put16(end.bytes.data() + 10, uint32_t(entries_.size()));
    // The comment goes with the record, and the record says exactly how long it is.
    put16(end.bytes.data() + 20, uint32_t(end.comment.size()));
    std::string directory;
    for (const auto& [name, e] : entries_) {
        directory.append(reinterpret_cast<const char*>(e.Header.data()), e.Header.size());
        directory += e.FileName;
        directory += e.ExtraField;
        directory += e.FileComment;
    }
    put32(end.bytes.data() + 12, uint32_t(directory.size()));

    platform::RawStream& archive = archive_->stream();
    platform::Error error;
    if (!seekTo(archive, end.directoryOffset()))
        return fail("Failed to seek on " + archiveName_ + ". Its directory was not written.");
    if (!writeExactly(archive, directory.data(), int64_t(directory.size()), error) ||
        !writeExactly(archive, end.bytes.data(), kEndRecord, error) ||
        (!end.comment.empty() &&
         !writeExactly(archive, end.comment.data(), int64_t(end.comment.size()), error)))
        return fail("Failed to write to " + archiveName_ + ", " + error.text);
    // An archive is reported closed only once it is on the disk, under its name.
    if (auto f = archive_->Commit(); !f)
        return fail("Failed to write to " + archiveName_ + ", " + f.error().text);
    return true;
}

void TMiniZip::DiscardArchive() {
    archive_.reset();
    modified_ = false;
}

} // namespace containers
