#include "maintenance/checksum.h"

#include "jobs/aligned_stream.h"
#include "jobs/block_engine.h"
#include "jobs/digest.h"
#include "jobs/range_job.h"
#include "jobs/side_thread.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

namespace checksum {
namespace {

using jobs::detail::SideThread;

// Where the block engine hands the bytes it read: into the digests of the kind.
class DigestSink final : public jobs::StreamAdapter {
public:
    DigestSink(ChecksumKind kind, jobs::ByteObserver* extra) : kind_(kind), extra_(extra) {
        if (kind_ == Both)
            side_ =
                std::make_unique<SideThread>([this](const char* d, int64_t n) { sha1_.add(d, size_t(n)); });
    }

    // Nothing may be thrown across the block engine, whose reader thread is running: a digest
    // that fails is kept and thrown by rethrowError() once the engine has stopped.
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        const auto* data = static_cast<const char*>(buffer);
        try {
            if (kind_ == Both) {
                side_->post(data, count);
                std::exception_ptr first;
                try {
                    md5_.add(data, size_t(count));
                } catch (...) {
                    first = std::current_exception();
                }
                side_->wait();
                if (first) std::rethrow_exception(first);
            } else if (kind_ == MD5) {
                md5_.add(data, size_t(count));
            } else if (kind_ == SHA1) {
                sha1_.add(data, size_t(count));
            }
            if (extra_) extra_->add(reinterpret_cast<const uint8_t*>(data), count);
        } catch (...) {
            error_ = std::current_exception();
            return platform::errnoError(EIO);
        }
        position_ += count;
        return count;
    }
    void rethrowError() {
        if (error_) std::rethrow_exception(error_);
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        if (origin != platform::SeekOrigin::Begin || offset != position_) return platform::errnoError(ESPIPE);
        return position_;
    }
    platform::Result<int64_t> position() override { return position_; }
    platform::Result<int64_t> length() override { return position_; }

    std::optional<std::string> md5() {
        return kind_ == MD5 || kind_ == Both ? std::optional(md5_.finish()) : std::nullopt;
    }
    std::optional<std::string> sha1() {
        return kind_ == SHA1 || kind_ == Both ? std::optional(sha1_.finish()) : std::nullopt;
    }

private:
    ChecksumKind kind_;
    jobs::ByteObserver* extra_;
    digest::Md5 md5_;
    digest::Sha1 sha1_;
    int64_t position_ = 0;
    std::exception_ptr error_;
    std::unique_ptr<SideThread> side_; // last: stopped before the digests go
};

// The source as the block engine reads it, noting every read that came back short by where it
// started: the block engine reads a failing block again on its own, and the message names the
// count of that read.
class ShortReadLog final : public platform::RawStream {
public:
    ShortReadLog(platform::RawStream& inner, int64_t position) : inner_(inner), position_(position) {}

    // What the last read starting at `at` gave, or 0 when none came back short there.
    int64_t shortCountAt(int64_t at) const {
        const auto it = short_.find(at);
        return it == short_.end() ? 0 : it->second;
    }

    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        auto n = inner_.read(buffer, count);
        if (!n || *n < count) short_[position_] = n ? *n : 0;
        if (n) position_ += *n;
        return n;
    }
    platform::Result<int64_t> write(const void*, int64_t) override { return platform::errnoError(EBADF); }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        auto to = inner_.seek(offset, origin);
        if (to) position_ = *to;
        return to;
    }
    platform::Result<int64_t> position() override { return position_; }
    platform::Result<int64_t> length() override { return inner_.length(); }
    platform::Result<void> truncate(int64_t) override { return platform::errnoError(EINVAL); }
    platform::Result<void> flush() override { return {}; }
    platform::Result<platform::DiskGeometry> geometry() override { return inner_.geometry(); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return inner_.geometryEx(); }
    platform::Result<int64_t> lengthInfo() override { return inner_.lengthInfo(); }

private:
    platform::RawStream& inner_;
    int64_t position_;
    std::map<int64_t, int64_t> short_;
};

std::string readErrorMessage(int64_t got, int64_t expected) {
    char text[128];
    std::snprintf(text, sizeof text, "Read error. Only read %lld bytes of %lld bytes expected",
                  static_cast<long long>(got), static_cast<long long>(expected));
    return text;
}

std::string twoDigits(int64_t v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

} // namespace

Result calculate(platform::Backend& backend, Dialogs& dialogs, JobControl& job, TFileInfo sel,
                 ChecksumKind kind, const Options& options) {
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    auto stream = range.open(sel, platform::OpenMode::Read,
                             "Failed to open " + sel.Description + " for reading", options.direct);
    Result failed;
    failed.outcome = Outcome::Failed; // nothing read, no digest
    if (!stream) return failed;
    range.enterBusy();

    // A device that quietly lands elsewhere must not be summed.
    if (!range.position(*stream, sel.Offset, "Seek operation failed")) return failed;

    Clock& clock = job.clock();
    const int64_t start = clock.nowMs();
    int64_t lastUpdate = 0;
    const int64_t size = sel.Size;
    DigestSink sink(kind, options.extra);
    ShortReadLog source(*stream, sel.Offset);

    blocks::Plan plan;
    plan.size = size;
    plan.block = kBlock;
    // A device read past the cache comes as sector-aligned stream: it wants larger reads.
    const bool pastCache = dynamic_cast<jobs::AlignedStream*>(stream.get()) != nullptr;
    plan.buffer = options.buffer > 0 ? options.buffer : pastCache ? 1 << 20 : 256 << 10;
    plan.buffers = options.buffers;
    plan.shortBlockEnds = true; // the bytes of a short read reach no digest
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t done) {
        const int64_t elapsed = clock.nowMs() - start;
        if (elapsed - lastUpdate <= kUpdateInterval) return true;
        lastUpdate = elapsed;
        const int64_t elapsed2 = clock.nowMs() - start;
        const double left =
            (double(size - done) / double(size)) / (double(done) / double(size)) * double(elapsed2);
        TimeProgress p;
        p.bytes = done;
        p.total = size;
        p.percent = jobs::percentOf(done, size);
        p.elapsed = "Elapsed: " + durationText(elapsed2, options.timeFormat);
        p.left = "Left: " + durationText(int64_t(left), options.timeFormat);
        job.progress(p);
        job.pump();
        return !job.stopRequested();
    };
    // A slow device keeps the window answering, and a close still ends the run.
    callbacks.waiting = [&] {
        job.pump();
        return !job.stopRequested();
    };
    const auto out = blocks::run(source, sink, plan, callbacks);
    stream.reset();
    sink.rethrowError();

    Result result;
    result.bytes = out.total;
    // A stop says nothing; a short read says where the digests end.
    result.outcome = out.stopped || out.total < size ? Outcome::Incomplete : Outcome::Completed;
    if (!out.stopped && out.total < size) {
        const int64_t expected = std::min(kBlock, size - out.total);
        dialogs.message(readErrorMessage(source.shortCountAt(sel.Offset + out.total), expected));
    }
    job.progress(Progress(out.total, size, 100, ""));
    result.md5 = sink.md5();
    result.sha1 = sink.sha1();
    if (kind != NoDigest) result.first = kind == SHA1 ? *result.sha1 : *result.md5;
    if (kind == Both) result.second = *result.sha1;
    return result;
}

Result calculateStream(Dialogs& dialogs, JobControl& job, platform::RawStream& source,
                       const std::string& name, ChecksumKind kind, const Options& options) {
    DigestSink sink(kind, options.extra);
    blocks::Plan plan;
    plan.size = std::numeric_limits<int64_t>::max(); // until the stream ends
    plan.block = kBlock;
    plan.buffer = 256 << 10;
    // Read on this thread, where a stop signal interrupts a read that waits for data.
    plan.buffers = 1;
    const auto goOn = [&] {
        job.pump();
        return !job.stopRequested();
    };
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t) { return goOn(); };
    callbacks.waiting = goOn;
    const auto out = blocks::run(source, sink, plan, callbacks);
    sink.rethrowError();

    Result result;
    result.bytes = out.total;
    const bool interrupted = out.readError && out.readError->code == EINTR;
    if (out.stopped || interrupted || job.stopRequested()) {
        result.outcome = Outcome::Incomplete;
    } else if (out.readError) {
        dialogs.message("Failed to read " + name + ", " + out.readError->text);
        result.outcome = Outcome::Failed;
    } else {
        result.outcome = Outcome::Completed;
        result.md5 = sink.md5();
        result.sha1 = sink.sha1();
    }
    return result;
}

std::string durationText(int64_t ms, const std::string& format) {
    constexpr int64_t kDay = 86400000;
    const int64_t t = ((ms % kDay) + kDay) % kDay;
    const int64_t hours = t / 3600000, minutes = t / 60000 % 60, seconds = t / 1000 % 60, millis = t % 1000;
    std::string text;
    size_t i = 0;
    const auto run = [&](char c) {
        size_t n = 0;
        while (i + n < format.size() && format[i + n] == c)
            ++n;
        return n;
    };
    while (i < format.size()) {
        const char c = format[i];
        if (c == '\'') {
            const size_t close = format.find('\'', i + 1);
            if (close == i + 1)
                text += '\''; // '' is a quote
            else
                text += format.substr(i + 1, (close == std::string::npos ? format.size() : close) - i - 1);
            i = close == std::string::npos ? format.size() : close + 1;
            continue;
        }
        if (c == 'A' || c == 'a') {
            const bool upper = c == 'A';
            const bool twoLetters = i + 1 < format.size() && (format[i + 1] == 'P' || format[i + 1] == 'p');
            text += hours < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
            i += twoLetters ? 2 : 1;
            continue;
        }
        const size_t n = run(c);
        switch (c) {
        case 'H':
            text += n >= 2 ? twoDigits(hours) : std::to_string(hours);
            break;
        case 'h': {
            const int64_t h12 = hours % 12 == 0 ? 12 : hours % 12;
            text += n >= 2 ? twoDigits(h12) : std::to_string(h12);
            break;
        }
        case 'm':
            text += n >= 2 ? twoDigits(minutes) : std::to_string(minutes);
            break;
        case 's':
            text += n >= 2 ? twoDigits(seconds) : std::to_string(seconds);
            break;
        case 'z': {
            std::string z = std::to_string(millis);
            if (n >= 3) z.insert(0, 3 - z.size(), '0');
            text += z;
            break;
        }
        case 't':
            break;
        default:
            text.append(n, c);
            break;
        }
        i += n;
    }
    // A time zone left out leaves the blank that stood before it.
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

} // namespace checksum
