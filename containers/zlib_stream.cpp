#include "containers/zlib_stream.h"

#include <zlib.h>
#ifdef TARNWICK_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace containers {
namespace {

using platform::Error;
using platform::Result;

// The largest piece written to, or read from, the image file at once.
constexpr size_t kFilePiece = 65536;
// What the parallel codecs compress as one piece, and the history each piece starts with.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kWindow = 32768;
// The zlib header of a 32 KiB window at the fastest level: CMF 78, FLG 01 (FLEVEL 0, no
// dictionary, header check 0x7801 % 31 == 0).
constexpr uint8_t kZlibHeader[2] = {0x78, 0x01};

Error compressorFailed() {
    return Error{ENOMEM, kCompressorFailed};
}

// Writes all of `data` in pieces of at most 64 KiB. A medium that takes less is full.
Result<void> writeAll(platform::RawStream& out, const uint8_t* data, size_t count, int64_t& written) {
    while (count > 0) {
        const size_t piece = std::min(count, kFilePiece);
        const auto n = out.write(data, int64_t(piece));
        if (!n) return n.error();
        if (*n != int64_t(piece)) return platform::errnoError(ENOSPC);
        data += piece;
        count -= piece;
        written += int64_t(piece);
    }
    return {};
}

Result<void> writeTrailer(platform::RawStream& out, uint32_t adler, int64_t& written) {
    const uint8_t trailer[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8),
                                uint8_t(adler)};
    return writeAll(out, trailer, 4, written);
}

// The check value a framing carries: the Adler-32 of a zlib stream, the CRC-32 of a zip entry.
uint32_t checkStart(Framing framing) {
    return framing == Framing::Zlib ? 1 : 0;
}

uint32_t checkOf(Framing framing, uint32_t check, const uint8_t* data, size_t count) {
#ifdef TARNWICK_HAVE_ISAL
    // Several times faster than zlib's, with the same values.
    return framing == Framing::Zlib ? isal_adler32(check, data, count) : crc32_gzip_refl(check, data, count);
#else
    // zlib takes 32-bit counts.
    while (count > 0) {
        const uInt piece = uInt(std::min<size_t>(count, 1u << 30));
        check = uint32_t(framing == Framing::Zlib ? adler32(check, data, piece) : crc32(check, data, piece));
        data += piece;
        count -= piece;
    }
    return check;
#endif
}

// The check value of `first` followed by `second`, which covers `secondCount` bytes.
uint32_t checkJoined(Framing framing, uint32_t first, uint32_t second, size_t secondCount) {
    return uint32_t(framing == Framing::Zlib ? adler32_combine(first, second, z_off_t(secondCount))
                                             : crc32_combine(first, second, z_off_t(secondCount)));
}

// --- zlib on one thread, exactly the settings of the format: level 1, 15 window bits, memory
// level 8, the default strategy, no flush until the finishing one.
class ZlibWriter final : public BodyWriter {
public:
    ZlibWriter(platform::RawStream& out, Framing framing)
        : out_(out), framing_(framing), buffer_(kFilePiece) {}
    ~ZlibWriter() override {
        if (live_) deflateEnd(&z_);
    }
    bool start() {
        // Negative window bits: raw deflate, no header or trailer.
        const int windowBits = framing_ == Framing::Zlib ? 15 : -15;
        live_ = deflateInit2(&z_, 1, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return live_;
    }

    Result<void> write(const uint8_t* data, size_t count) override {
        // zlib keeps the Adler-32 of its own stream; a raw stream's CRC-32 is ours to keep.
        if (!failed_ && framing_ == Framing::Raw) crc_ = checkOf(framing_, crc_, data, count);
        return run(data, count, Z_NO_FLUSH);
    }
    Result<void> finish() override { return run(nullptr, 0, Z_FINISH); }
    int64_t bytesOut() const override { return written_; }
    uint32_t checksum() const override { return framing_ == Framing::Zlib ? uint32_t(z_.adler) : crc_; }

private:
    Result<void> run(const uint8_t* data, size_t count, int flush) {
        if (failed_) return *failed_;
        do {
            const uInt piece = uInt(std::min<size_t>(count, 1u << 30));
            const bool lastPiece = piece == count;
            z_.next_in = const_cast<Bytef*>(data);
            z_.avail_in = piece;
            for (;;) {
                z_.next_out = buffer_.data();
                z_.avail_out = uInt(buffer_.size());
                const int r = deflate(&z_, lastPiece ? flush : Z_NO_FLUSH);
                if (r == Z_STREAM_ERROR) return fail(compressorFailed());
                if (auto w = writeAll(out_, buffer_.data(), buffer_.size() - z_.avail_out, written_); !w)
                    return fail(w.error());
                if ((lastPiece && flush == Z_FINISH) ? r == Z_STREAM_END
                                                     : (z_.avail_in == 0 && z_.avail_out != 0))
                    break;
            }
            if (data) data += piece;
            count -= piece;
        } while (count > 0);
        return {};
    }
    Result<void> fail(Error e) {
        failed_ = e;
        return e;
    }

    platform::RawStream& out_;
    const Framing framing_;
    std::vector<uint8_t> buffer_;
    z_stream z_{};
    bool live_ = false;
    int64_t written_ = 0;
    uint32_t crc_ = 0;
    std::optional<Error> failed_;
};

// --- Pieces compressed on every core and joined the way parallel gzip tools join them: each
// piece is raw deflate primed with the 32 KiB before it, ended with a sync flush (an empty
// stored block, so the next piece starts on a byte), the last one with the final block. Their
// check values, computed on the same threads, combine into the stream's.
struct Piece {
    std::vector<uint8_t> in;
    size_t inSize = 0;
    std::vector<uint8_t> dict;
    bool last = false;
    std::vector<uint8_t> out;
    size_t outSize = 0;
    uint32_t check = 0;
    bool done = false;
    bool failed = false;
};

class PieceCompressor {
public:
    virtual ~PieceCompressor() = default;
    virtual bool compress(Piece& piece) = 0;
};

class ZlibPieceCompressor final : public PieceCompressor {
public:
    ~ZlibPieceCompressor() override {
        if (live_) deflateEnd(&z_);
    }
    bool start() {
        live_ = deflateInit2(&z_, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return live_;
    }
    bool compress(Piece& p) override {
        if (deflateReset(&z_) != Z_OK) return false;
        if (!p.dict.empty() && deflateSetDictionary(&z_, p.dict.data(), uInt(p.dict.size())) != Z_OK)
            return false;
        // The bound is for a whole stream; a sync flush adds a few bytes more.
        const size_t bound = size_t(deflateBound(&z_, uLong(p.inSize))) + 64;
        if (p.out.size() < bound) p.out.resize(bound);
        z_.next_in = p.in.data();
        z_.avail_in = uInt(p.inSize);
        z_.next_out = p.out.data();
        z_.avail_out = uInt(p.out.size());
        for (;;) {
            const int r = deflate(&z_, p.last ? Z_FINISH : Z_SYNC_FLUSH);
            if (r == Z_STREAM_ERROR) return false;
            if (p.last ? r == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out != 0) break;
            if (z_.avail_out == 0) grow(p);
        }
        p.outSize = size_t(z_.total_out);
        return true;
    }

private:
    void grow(Piece& p) {
        const size_t used = p.out.size();
        p.out.resize(used * 2);
        z_.next_out = p.out.data() + used;
        z_.avail_out = uInt(p.out.size() - used);
    }
    z_stream z_{};
    bool live_ = false;
};

#ifdef TARNWICK_HAVE_ISAL
// Level 1: ISA-L's fastest level that still builds Huffman codes for the data, which keeps the
// image about as small as zlib's level 1 makes it.
constexpr int kIsalLevel = 1;

class IsalPieceCompressor final : public PieceCompressor {
public:
    IsalPieceCompressor() : stream_(std::make_unique<isal_zstream>()), level_(ISAL_DEF_LVL1_DEFAULT) {}
    bool compress(Piece& p) override {
        isal_zstream& s = *stream_;
        isal_deflate_init(&s);
        s.level = kIsalLevel;
        s.level_buf = level_.data();
        s.level_buf_size = uint32_t(level_.size());
        s.gzip_flag = IGZIP_DEFLATE;
        s.end_of_stream = p.last ? 1 : 0;
        s.flush = p.last ? NO_FLUSH : SYNC_FLUSH;
        if (!p.dict.empty() && isal_deflate_set_dict(&s, p.dict.data(), uint32_t(p.dict.size())) != COMP_OK)
            return false;
        const size_t bound = p.inSize + p.inSize / 8 + 4096;
        if (p.out.size() < bound) p.out.resize(bound);
        s.next_in = p.in.data();
        s.avail_in = uint32_t(p.inSize);
        s.next_out = p.out.data();
        s.avail_out = uint32_t(p.out.size());
        for (;;) {
            if (isal_deflate(&s) != COMP_OK) return false;
            if (p.last ? s.internal_state.state == ZSTATE_END
                       : s.avail_in == 0 && s.avail_out != 0 && s.internal_state.state == ZSTATE_NEW_HDR)
                break;
            if (s.avail_out == 0) {
                const size_t used = p.out.size();
                p.out.resize(used * 2);
                s.next_out = p.out.data() + used;
                s.avail_out = uint32_t(p.out.size() - used);
            }
        }
        p.outSize = s.total_out;
        return true;
    }

private:
    std::unique_ptr<isal_zstream> stream_;
    std::vector<uint8_t> level_;
};
#endif

class ParallelWriter final : public BodyWriter {
public:
    ParallelWriter(platform::RawStream& out, Framing framing,
                   std::vector<std::unique_ptr<PieceCompressor>> compressors)
        : out_(out), framing_(framing), maxInFlight_(compressors.size() * 2 + 1),
          check_(checkStart(framing)) {
        for (auto& c : compressors)
            threads_.emplace_back([this, c = std::move(c)] { work(*c); });
    }
    ~ParallelWriter() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_)
            t.join();
    }

    Result<void> start() {
        if (framing_ == Framing::Raw) return {};
        return writeAll(out_, kZlibHeader, 2, written_);
    }

    Result<void> write(const uint8_t* data, size_t count) override {
        if (failed_) return *failed_;
        while (count > 0) {
            if (!current_) current_ = takePiece();
            Piece& p = *current_;
            const size_t n = std::min(count, kPieceSize - p.inSize);
            std::memcpy(p.in.data() + p.inSize, data, n);
            p.inSize += n;
            data += n;
            count -= n;
            if (p.inSize == kPieceSize)
                if (auto r = submit(); !r) return r;
        }
        return {};
    }

    Result<void> finish() override {
        if (failed_) return *failed_;
        if (!current_) current_ = takePiece();
        current_->last = true;
        if (auto r = submit(); !r) return r;
        while (!inFlight_.empty())
            if (auto r = writeFront(); !r) return r;
        if (framing_ == Framing::Raw) return {};
        return writeTrailer(out_, check_, written_);
    }

    int64_t bytesOut() const override { return written_; }
    uint32_t checksum() const override { return check_; }

private:
    std::unique_ptr<Piece> takePiece() {
        std::unique_ptr<Piece> p;
        if (!spare_.empty()) {
            p = std::move(spare_.back());
            spare_.pop_back();
        } else {
            p = std::make_unique<Piece>();
            p->in.resize(kPieceSize);
        }
        p->inSize = 0;
        p->last = p->done = p->failed = false;
        p->dict = tail_;
        return p;
    }

    Result<void> submit() {
        Piece& p = *current_;
        // The next piece looks back into this one's last 32 KiB (only the last piece is shorter,
        // and nothing follows it).
        const size_t keep = std::min(p.inSize, kWindow);
        tail_.assign(p.in.data() + p.inSize - keep, p.in.data() + p.inSize);
        {
            std::lock_guard lock(mutex_);
            inFlight_.push_back(std::move(current_));
            todo_.push_back(inFlight_.back().get());
        }
        work_.notify_one();
        // Bounded memory: the oldest piece is written before more are taken.
        while (inFlight_.size() >= maxInFlight_)
            if (auto r = writeFront(); !r) return r;
        // Whatever is ready goes out now.
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (inFlight_.empty() || !inFlight_.front()->done) break;
            }
            if (auto r = writeFront(); !r) return r;
        }
        return {};
    }

    Result<void> writeFront() {
        std::unique_ptr<Piece> p;
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [&] { return inFlight_.front()->done; });
            p = std::move(inFlight_.front());
            inFlight_.pop_front();
        }
        if (p->failed) return fail(compressorFailed());
        if (auto w = writeAll(out_, p->out.data(), p->outSize, written_); !w) return fail(w.error());
        check_ = checkJoined(framing_, check_, p->check, p->inSize);
        spare_.push_back(std::move(p));
        return {};
    }

    Result<void> fail(Error e) {
        failed_ = e;
        return e;
    }

    void work(PieceCompressor& compressor) {
        for (;;) {
            Piece* p = nullptr;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [&] { return quit_ || !todo_.empty(); });
                if (todo_.empty()) return;
                p = todo_.front();
                todo_.pop_front();
            }
            const bool ok = compressor.compress(*p);
            const uint32_t check = checkOf(framing_, checkStart(framing_), p->in.data(), p->inSize);
            {
                std::lock_guard lock(mutex_);
                p->check = check;
                p->failed = !ok;
                p->done = true;
            }
            done_.notify_all();
        }
    }

    platform::RawStream& out_;
    const Framing framing_;
    const size_t maxInFlight_;
    std::unique_ptr<Piece> current_;
    std::vector<std::unique_ptr<Piece>> spare_;
    std::vector<uint8_t> tail_;
    uint32_t check_;
    int64_t written_ = 0;
    std::optional<Error> failed_;

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::deque<std::unique_ptr<Piece>> inFlight_; // in stream order
    std::deque<Piece*> todo_;
    bool quit_ = false;
    std::vector<std::thread> threads_; // last: they start once everything above exists
};

#ifdef TARNWICK_HAVE_ISAL
// ISA-L on one thread: raw deflate, between our own zlib header and trailer for a zlib stream.
class IsalWriter final : public BodyWriter {
public:
    IsalWriter(platform::RawStream& out, Framing framing)
        : out_(out), framing_(framing), stream_(std::make_unique<isal_zstream>()),
          level_(ISAL_DEF_LVL1_DEFAULT), buffer_(kFilePiece), check_(checkStart(framing)) {
        isal_zstream& s = *stream_;
        isal_deflate_init(&s);
        s.level = kIsalLevel;
        s.level_buf = level_.data();
        s.level_buf_size = uint32_t(level_.size());
        s.gzip_flag = IGZIP_DEFLATE;
        s.flush = NO_FLUSH;
    }
    Result<void> start() {
        if (framing_ == Framing::Raw) return {};
        return writeAll(out_, kZlibHeader, 2, written_);
    }

    Result<void> write(const uint8_t* data, size_t count) override {
        if (failed_) return *failed_;
        while (count > 0) {
            const uint32_t piece = uint32_t(std::min<size_t>(count, 1u << 30));
            check_ = checkOf(framing_, check_, data, piece);
            stream_->next_in = const_cast<uint8_t*>(data);
            stream_->avail_in = piece;
            if (auto r = run(); !r) return r;
            data += piece;
            count -= piece;
        }
        return {};
    }
    Result<void> finish() override {
        if (failed_) return *failed_;
        stream_->end_of_stream = 1;
        stream_->avail_in = 0;
        if (auto r = run(); !r) return r;
        if (framing_ == Framing::Raw) return {};
        return writeTrailer(out_, check_, written_);
    }
    int64_t bytesOut() const override { return written_; }
    uint32_t checksum() const override { return check_; }

private:
    Result<void> run() {
        isal_zstream& s = *stream_;
        for (;;) {
            s.next_out = buffer_.data();
            s.avail_out = uint32_t(buffer_.size());
            if (isal_deflate(&s) != COMP_OK) return fail(compressorFailed());
            if (auto w = writeAll(out_, buffer_.data(), buffer_.size() - s.avail_out, written_); !w)
                return fail(w.error());
            if (s.end_of_stream ? s.internal_state.state == ZSTATE_END : s.avail_in == 0 && s.avail_out != 0)
                return {};
        }
    }
    Result<void> fail(Error e) {
        failed_ = e;
        return e;
    }

    platform::RawStream& out_;
    const Framing framing_;
    std::unique_ptr<isal_zstream> stream_;
    std::vector<uint8_t> level_;
    std::vector<uint8_t> buffer_;
    uint32_t check_;
    int64_t written_ = 0;
    std::optional<Error> failed_;
};
#endif

// --- Readers. Both take the image file in pieces of at most 64 KiB.
class FileFeed {
public:
    explicit FileFeed(platform::RawStream& in) : in_(in), buffer_(kFilePiece) {}
    // Fresh input, or false at the end of the file or on a read error.
    bool refill(std::optional<Error>& readError) {
        if (eof_) return false;
        const auto n = in_.read(buffer_.data(), int64_t(buffer_.size()));
        if (!n) {
            readError = n.error();
            return false;
        }
        if (*n == 0) {
            eof_ = true;
            return false;
        }
        size_ = size_t(*n);
        return true;
    }
    uint8_t* data() { return buffer_.data(); }
    size_t size() const { return size_; }
    bool atEnd() const { return eof_; }

private:
    platform::RawStream& in_;
    std::vector<uint8_t> buffer_;
    size_t size_ = 0;
    bool eof_ = false;
};

// Gives the stream the next piece of the file when it has used the last one. False on a read
// error. At the end of the file the stream is called on without input: it may still hold data.
template <typename Stream> bool feed(FileFeed& file, Stream& s, std::optional<Error>& readError) {
    if (s.avail_in != 0 || file.atEnd()) return true;
    if (!file.refill(readError)) return !readError;
    s.next_in = file.data();
    s.avail_in = decltype(s.avail_in)(file.size());
    return true;
}

class ZlibReader final : public BodyReader {
public:
    explicit ZlibReader(platform::RawStream& in) : feed_(in) {}
    ~ZlibReader() override {
        if (live_) inflateEnd(&z_);
    }
    bool start() {
        live_ = inflateInit(&z_) == Z_OK;
        return live_;
    }

protected:
    int64_t inflateSome(uint8_t* data, int64_t count) override {
        if (!feed(feed_, z_, readError_)) return 0;
        const uInt want = uInt(std::min<int64_t>(count, 1 << 30));
        z_.next_out = data;
        z_.avail_out = want;
        const uInt inBefore = z_.avail_in;
        const int r = inflate(&z_, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            ended_ = true;
        } else if (r == Z_DATA_ERROR) {
            // zlib tells a wrong Adler-32 from broken data only by its message.
            damage_ =
                z_.msg && std::strcmp(z_.msg, "incorrect data check") == 0 ? Damage::Checksum : Damage::Data;
        } else if (r == Z_NEED_DICT || r == Z_STREAM_ERROR) {
            damage_ = Damage::Data;
        } else if (r == Z_MEM_ERROR) {
            readError_ = platform::errnoError(ENOMEM);
        } else if (r == Z_BUF_ERROR && z_.avail_in == inBefore && z_.avail_out == want) {
            // No way forward: broken data, or no more of it.
            damage_ = z_.avail_in != 0 ? Damage::Data : Damage::Unfinished;
        }
        return want - z_.avail_out;
    }

private:
    FileFeed feed_;
    z_stream z_{};
    bool live_ = false;
};

#ifdef TARNWICK_HAVE_ISAL
class IsalReader final : public BodyReader {
public:
    explicit IsalReader(platform::RawStream& in) : feed_(in), state_(std::make_unique<inflate_state>()) {
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_ZLIB; // the zlib header is read and the Adler-32 checked
    }

protected:
    int64_t inflateSome(uint8_t* data, int64_t count) override {
        inflate_state& s = *state_;
        if (!feed(feed_, s, readError_)) return 0;
        // ISA-L takes any window size in the header; zlib refuses more than 32 KiB, and so do we.
        if (!headerSeen_ && s.avail_in > 0) {
            if (s.next_in[0] >> 4 > 7) {
                damage_ = Damage::Data;
                return 0;
            }
            headerSeen_ = true;
        }
        const uint32_t want = uint32_t(std::min<int64_t>(count, 1 << 30));
        s.next_out = data;
        s.avail_out = want;
        const uint32_t inBefore = s.avail_in;
        const int r = isal_inflate(&s);
        if (r == ISAL_INCORRECT_CHECKSUM && s.wrapper_flag) {
            damage_ = Damage::Checksum; // the header's own check failing is broken data
        } else if (r < 0 || r == ISAL_NEED_DICT) {
            damage_ = Damage::Data;
        } else if (s.block_state == ISAL_BLOCK_FINISH) {
            ended_ = true;
        } else if (s.avail_in == inBefore && s.avail_out == want) {
            // No way forward: broken data, or no more of it.
            damage_ = s.avail_in != 0 ? Damage::Data : Damage::Unfinished;
        }
        return want - s.avail_out;
    }

private:
    FileFeed feed_;
    std::unique_ptr<inflate_state> state_;
    bool headerSeen_ = false;
};
#endif

int coreCount() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

int64_t BodyReader::read(uint8_t* data, int64_t count) {
    int64_t produced = 0;
    while (produced < count && !ended_ && !damaged() && !readError_) {
        const int64_t n = inflateSome(data + produced, count - produced);
        // The bytes of the call that found damage are not the stream's.
        if (!damaged()) produced += n;
    }
    return produced;
}

void BodyReader::checkEnd() {
    uint8_t beyond = 0;
    if (read(&beyond, 1) > 0) damage_ = Damage::TooLong;
}

const char* codecName(Codec codec) {
    switch (codec) {
    case Codec::Zlib:
        return "zlib";
    case Codec::ZlibParallel:
        return "zlib-parallel";
    case Codec::Isal:
        return "isal";
    case Codec::IsalParallel:
        return "isal-parallel";
    }
    return "";
}

std::optional<Codec> codecByName(const std::string& name) {
    for (Codec c : {Codec::Zlib, Codec::ZlibParallel, Codec::Isal, Codec::IsalParallel})
        if (name == codecName(c)) return c;
    return std::nullopt;
}

bool codecAvailable(Codec codec) {
#ifdef TARNWICK_HAVE_ISAL
    (void)codec;
    return true;
#else
    return codec == Codec::Zlib || codec == Codec::ZlibParallel;
#endif
}

Codec defaultCodec() {
#ifdef TARNWICK_HAVE_ISAL
    return coreCount() > 1 ? Codec::IsalParallel : Codec::Isal;
#else
    return coreCount() > 1 ? Codec::ZlibParallel : Codec::Zlib;
#endif
}

std::string compressionLibrary() {
    const std::string threads = coreCount() > 1 ? " on " + std::to_string(coreCount()) + " threads" : "";
#ifdef TARNWICK_HAVE_ISAL
    return "ISA-L " TARNWICK_ISAL_VERSION " deflate" + threads;
#else
    return "zlib " + std::string(zlibVersion()) + threads;
#endif
}

int64_t deflatedBound(int64_t bytes) {
    // zlib's stored blocks cost 5 bytes per 16 KiB; ISA-L codes noise in Huffman blocks instead,
    // about 1/1500 more. 1/256 leaves room for both; each piece of the parallel codecs adds its
    // sync flush and its block headers.
    return bytes + bytes / 256 + (bytes / int64_t(kPieceSize) + 1) * 1024 + 4096;
}

Result<std::unique_ptr<BodyWriter>> makeBodyWriter(Codec codec, platform::RawStream& out, int threads,
                                                   Framing framing) {
    if (!codecAvailable(codec)) codec = defaultCodec();
    if (threads <= 0) threads = coreCount();
    if (codec == Codec::Zlib) {
        auto w = std::make_unique<ZlibWriter>(out, framing);
        if (!w->start()) return compressorFailed();
        return std::unique_ptr<BodyWriter>(std::move(w));
    }
#ifdef TARNWICK_HAVE_ISAL
    if (codec == Codec::Isal) {
        auto w = std::make_unique<IsalWriter>(out, framing);
        if (auto r = w->start(); !r) return r.error();
        return std::unique_ptr<BodyWriter>(std::move(w));
    }
#endif
    std::vector<std::unique_ptr<PieceCompressor>> compressors;
    for (int i = 0; i < threads; ++i) {
#ifdef TARNWICK_HAVE_ISAL
        if (codec == Codec::IsalParallel) {
            compressors.push_back(std::make_unique<IsalPieceCompressor>());
            continue;
        }
#endif
        auto c = std::make_unique<ZlibPieceCompressor>();
        if (!c->start()) return compressorFailed();
        compressors.push_back(std::move(c));
    }
    auto w = std::make_unique<ParallelWriter>(out, framing, std::move(compressors));
    if (auto r = w->start(); !r) return r.error();
    return std::unique_ptr<BodyWriter>(std::move(w));
}

Result<std::unique_ptr<BodyReader>> makeBodyReader(Codec codec, platform::RawStream& in) {
#ifdef TARNWICK_HAVE_ISAL
    if (codec == Codec::Isal || codec == Codec::IsalParallel)
        return std::unique_ptr<BodyReader>(std::make_unique<IsalReader>(in));
#else
    (void)codec;
#endif
    auto r = std::make_unique<ZlibReader>(in);
    if (!r->start()) return compressorFailed();
    return std::unique_ptr<BodyReader>(std::move(r));
}

} // namespace containers
