#pragma once
// TMiniZip: writes zip archives without 64-bit extensions, readable by ordinary zip tools. It
// creates an archive or opens one for appending, adds entries whose bytes are a range of any file
// or device (raw deflate at the fastest level, on every core by default), keeps the central
// directory in memory and writes it with the end record when the archive is closed. Plain C++, no
// Qt; it shows no messages: ErrorText() says why a call refused or failed.
//
// Layout written (little-endian), per entry at the directory offset of the end record:
//   local header  30 bytes: 04034B50, needed 20, flags (0, or 0800 for a UTF-8 name), method 8,
//                 DOS time, DOS date, CRC-32, compressed size, uncompressed size, name length,
//                 extra length 0; then the name and the deflate data. Written with CRC and
//                 compressed size 0 and rewritten in place after the data, so no data
//                 descriptor follows.
// then the central directory, one 46-byte header (02014B50, made by 22/11, needed 20, flags,
// method 8, time, date, CRC, sizes, name/extra/comment lengths, disk 0, internal 1, external
// attributes, local header offset) plus name, extra field and comment per entry, and the 22-byte
// end record (06054B50, disks, entry counts, directory size and offset, comment length) with the
// comment of an archive appended to.

#include "containers/zlib_stream.h"
#include "jobs/byte_observer.h"
#include "jobs/output_file.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace containers {

class TMiniZip;

// The kind of a progress report.
enum PrgsType { ptZip, ptUnzip, ptZipStart, ptZipping };

// Raised while an entry is written; setting Abort ends the entry with the bytes taken so far.
using TPrgsEvent = std::function<void(TMiniZip& Sender, PrgsType ProgrType, const std::string& Filename,
                                      int64_t uncompressed_size, bool& Abort)>;
// Listing and extraction are not part of the program; their events are declared and never raised.
using TListFileEvent =
    std::function<void(TMiniZip& Sender, int64_t LastWriteTime, const std::string& Filename, int64_t Ratio,
                       int64_t uncompressed_size, int64_t compressed_size)>;
using TUnzipFileEvent =
    std::function<void(TMiniZip& Sender, int64_t LastWriteTime, int64_t uncompressed_size,
                       int64_t compressed_size, const std::string& DestFilename, bool& CanOverwrite)>;

// The in-memory central directory entry: the 46-byte fixed part exactly as on disk, then the
// variable parts.
struct TZipFileEntry {
    std::array<uint8_t, 46> Header{};
    std::string FileName;
    std::string FileComment;
    std::string ExtraField;

    uint32_t crc() const;
    uint32_t compressedSize() const;
    uint32_t uncompressedSize() const;
    uint32_t localHeaderOffset() const;
    uint16_t nameLength() const;
    uint16_t extraLength() const;
    uint16_t commentLength() const;
    // All bytes of the entry in the directory.
    int64_t directoryBytes() const {
        return 46 + int64_t(FileName.size() + ExtraField.size() + FileComment.size());
    }
};

// A file stream that keeps the name it was opened with. Created and appended-to files are output
// files (jobs/output_file.h): the bytes go to a new file that takes the name at Commit(), so an
// earlier file stays as it was until then.
class TSFileStream {
public:
    enum class Mode {
        Create,    // a new file, or one that replaces the existing one at Commit()
        ReadWrite, // a copy of the existing file, which replaces it at Commit()
        Read,      // existing file
    };
    // Throws UserError "Cannot create file "%s". %s" (Create) or "Cannot open file "%s". %s".
    TSFileStream(platform::Backend& backend, const std::string& fileName, Mode mode);
    // An already open stream (a selection opened by its range job).
    TSFileStream(std::unique_ptr<platform::RawStream> stream, std::string fileName);
    ~TSFileStream();

    const std::string& FileName() const { return fileName_; }
    platform::RawStream& stream() { return output_ ? output_->stream() : *stream_; }
    // A created or appended-to file takes its name (again: only flushes); others only flush.
    platform::Result<void> Commit();
    // An earlier file stands at the name and Commit() replaces it.
    bool Replacing() const { return output_ && output_->replacing(); }
    // Sets S to n bytes and reads n bytes into it; returns the count read (0 on an error).
    int64_t ReadCounted(std::string& S, int64_t n);
    // Writes the first n bytes of S; returns the count written (0 on an error).
    int64_t WriteCounted(const std::string& S, int64_t n);

private:
    std::unique_ptr<platform::RawStream> stream_;
    std::unique_ptr<jobs::OutputFile> output_;
    std::string fileName_;
};

// The end of central directory record of an archive.
struct EndRecord {
    std::array<uint8_t, 22> bytes{};
    std::string comment; // the bytes after the record, as many as its comment length says
    int64_t position = 0;

    uint16_t diskNumber() const;
    uint16_t directoryDisk() const;
    uint16_t entriesOnDisk() const;
    uint16_t entriesTotal() const;
    uint32_t directorySize() const;
    uint32_t directoryOffset() const;
    uint16_t commentLength() const;
    void setDirectoryOffset(uint32_t offset);
};

// The end record nearest the end of the file, looked for from 5 bytes before the end down to 443
// bytes before it (so a trailing comment of up to 421 bytes is found). Nothing when it is not
// there or cannot be read whole.
std::optional<EndRecord> FindEndRecord(platform::RawStream& archive);
// The directory the end record points at, when it can be read whole and is one this writer can
// append to: every entry starts with its signature and lies before the end record, one disk, no
// 64-bit markers. Never allocates more than the file holds.
std::optional<std::vector<TZipFileEntry>> ReadCentralDirectory(platform::RawStream& archive,
                                                               const EndRecord& end);

// "a\b" becomes "a/b", then one leading slash goes.
std::string NormalizeEntryName(const std::string& name);
// Local date and time packed the DOS way: date in the high 16 bits, time in the low 16 bits.
// Years before 1980 or after 2107 are clamped to the range the fields can hold.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

// The largest entry: 2 GiB less one byte.
inline constexpr int64_t kMaxEntryBytes = 2147483647;
// The most entries, and the last byte position, that the 16- and 32-bit fields can hold.
inline constexpr size_t kMaxEntries = 65535;
inline constexpr int64_t kMaxArchiveBytes = 0xFFFFFFFFll;

class TMiniZip {
public:
    explicit TMiniZip(platform::Backend& backend);
    // CloseArchive, then everything is released and the archive closed.
    ~TMiniZip();
    TMiniZip(const TMiniZip&) = delete;
    TMiniZip& operator=(const TMiniZip&) = delete;

    // Overwrite: create or truncate ArchiveName. Otherwise open it for appending: true only when
    // its end record and directory were read. Throws UserError when the file cannot be created
    // or opened at all.
    bool OpenArchive(const std::string& ArchiveName, bool Overwrite);
    // Reads ByteCount bytes of SourceFile from StartOffset and adds them as EntryName. False when
    // refused or the source cannot be opened (nothing written), when writing failed (the archive
    // is left as it was), or when the entry holds fewer bytes than asked (the source ended or
    // the progress handler aborted; the entry records what it holds).
    bool AddEntry(const std::string& SourceFile, const std::string& EntryName, int64_t StartOffset,
                  int64_t ByteCount);
    // The same from a stream the caller opened; SourceFile names it in progress reports and gives
    // the entry's time and attributes.
    bool AddEntry(std::unique_ptr<platform::RawStream> source, const std::string& SourceFile,
                  const std::string& EntryName, int64_t StartOffset, int64_t ByteCount);
    // Writes the directory and the end record (the same bytes at the same place each time) and
    // gives a new or appended-to archive its name. True when done, or when there is nothing to
    // write (a created archive without entries is then not kept).
    bool CloseArchive();
    // Drops what this archive wrote: an earlier file of its name stays as it was. For a stopped
    // or failed export that must not replace a whole archive.
    void DiscardArchive();
    // Closing the archive replaces an earlier file of its name.
    bool Replacing() const { return archive_ && archive_->Replacing(); }

    const std::string& ArchiveName() const { return archiveName_; }
    const std::vector<std::pair<std::string, TZipFileEntry>>& Entries() const { return entries_; }
    // Why the last call refused or failed; empty when it did not.
    const std::string& ErrorText() const { return errorText_; }
    // Bytes the last entry holds, and whether its progress handler aborted it.
    int64_t LastEntryBytes() const { return lastEntryBytes_; }
    bool LastEntryAborted() const { return lastEntryAborted_; }
    // The read of the source that ended the last entry early, when one failed.
    const std::optional<platform::Error>& LastReadError() const { return lastReadError_; }

    bool UzWithoutPath = false;
    bool UzOverwrite = true;
    TPrgsEvent OnProgress;
    TListFileEvent OnListFile;
    TUnzipFileEvent OnUnzipFile;
    // Runs after every piece given to deflate, so that pending window events get their turn.
    std::function<void()> OnIdle;
    // Sees each entry's bytes as they are read (the digests computed while imaging). Not owned.
    jobs::ByteObserver* Digests = nullptr;
    // How entries are deflated: every codec writes data every zip tool reads. threads: the
    // parallel codecs' compressing threads, 0 for one per core.
    Codec codec = defaultCodec();
    int threads = 0;

private:
    bool fail(const std::string& text);
    void putLocalHeader(std::array<uint8_t, 30>& local, const TZipFileEntry& entry, uint32_t uncompressed);

    platform::Backend& backend_;
    std::unique_ptr<TSFileStream> archive_;
    std::string archiveName_;
    bool appendable_ = false;    // false after an archive to append to turned out not to be one
    std::string readOnlyReason_; // set when an archive to append to could be opened only for reading
    EndRecord end_;
    int64_t openedLength_ = 0;
    std::vector<std::pair<std::string, TZipFileEntry>> entries_;
    bool modified_ = false;
    std::string errorText_;
    int64_t lastEntryBytes_ = 0;
    bool lastEntryAborted_ = false;
    std::optional<platform::Error> lastReadError_;
};

} // namespace containers
