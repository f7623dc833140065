#include "jobs/block_engine.h"

#include "core/aligned_buffer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace blocks {
namespace {

constexpr int64_t kPage = 4096;

// Page-aligned memory: what devices opened for direct I/O need, and what the CPU copies fastest.
using AlignedBuffer = aligned::Buffer<char>;

AlignedBuffer allocate(int64_t bytes) {
    return aligned::allocate(size_t(kPage), size_t(bytes));
}

// One buffer's worth of the source, and the small blocks the loop would have read it in.
struct Chunk {
    AlignedBuffer data;
    // Where the system can hold the bytes between source and sink itself; `inKernel` when this
    // chunk's bytes are there rather than in `data`.
    std::unique_ptr<platform::KernelBuffer> kernel;
    bool inKernel = false;
    std::vector<int64_t> blocks;
    bool last = false; // nothing follows: the data ended, a read failed, or the plan is done
    std::optional<platform::Error> readError; // with last: the read that failed
};

// Reads the source as the small-block loop would, but in large pieces while every read comes
// back whole. The first large read that comes back short is read again in small blocks (when
// the source can be positioned), and from then on every read is a small one: so the blocks, and
// where they end, are the loop's own.
class Reader {
public:
    Reader(platform::RawStream& source, bool seekable, const Plan& plan, int64_t capacity)
        : source_(source), seekable_(seekable), plan_(plan), capacity_(capacity) {
        if (seekable_) start_ = source_.position().valueOr(-1);
        if (start_ < 0) seekable_ = false;
        small_ = !seekable_;
    }

    void fill(Chunk& chunk) {
        chunk.blocks.clear();
        chunk.last = false;
        chunk.readError.reset();
        chunk.inKernel = false;
        // Bytes left behind in the system's buffer would be written with the next ones: a buffer
        // that could not be emptied is not used again.
        if (chunk.kernel && chunk.kernel->held() > 0) chunk.kernel.reset();
        if (!small_ && fillLarge(chunk)) return;
        fillSmall(chunk);
    }

private:
    // Bytes the loop reads at most: whole blocks up to the size, or exactly the size.
    int64_t planned() const {
        if (!plan_.wholeBlocks) return plan_.size;
        return (plan_.size + plan_.block - 1) / plan_.block * plan_.block;
    }
    // Whole blocks: the loop reads until its total reaches the size; exact: never past it.
    bool finished() const { return read_ >= plan_.size; }

    // True when the chunk is done; false to read it again in small blocks.
    bool fillLarge(Chunk& chunk) {
        const int64_t want = std::min(capacity_, planned() - read_);
        if (want <= 0) {
            chunk.last = true;
            return true;
        }
        const auto n = chunk.kernel ? fillKernel(chunk, want) : source_.read(chunk.data.get(), want);
        if (n && *n == want) {
            for (int64_t at = 0; at < want; at += plan_.block)
                chunk.blocks.push_back(std::min(plan_.block, want - at));
            read_ += want;
            chunk.last = finished();
            chunk.inKernel = chunk.kernel != nullptr;
            return true;
        }
        if (seekable_ &&
            source_.seek(start_ + read_, platform::SeekOrigin::Begin).valueOr(-1) == start_ + read_) {
            small_ = true;
            return false;
        }
        // The source cannot be positioned again: what came is the loop's last blocks.
        if (!n) chunk.readError = n.error();
        const int64_t got = n ? *n : 0;
        for (int64_t at = 0; at < got; at += plan_.block)
            chunk.blocks.push_back(std::min(plan_.block, got - at));
        read_ += got;
        chunk.last = true;
        return true;
    }

    // As a read into the chunk's memory, but the bytes stay with the system when they all came;
    // a piece that came short is brought into memory, where the rest goes as after a read.
    platform::Result<int64_t> fillKernel(Chunk& chunk, int64_t want) {
        const auto n = chunk.kernel->fill(want);
        if (n && *n == want) return n;
        // Nothing moved: a source the system cannot splice from says so at once. The read through
        // memory judges it, as it judges errors, and this chunk goes through memory from now on.
        if (!n && chunk.kernel->held() == 0) {
            chunk.kernel.reset();
            return source_.read(chunk.data.get(), want);
        }
        const auto held = chunk.kernel->take(chunk.data.get(), chunk.kernel->held());
        if (!n) return n;
        return held;
    }

    void fillSmall(Chunk& chunk) {
        int64_t used = 0;
        while (used + plan_.block <= capacity_) {
            if (finished()) {
                chunk.last = true;
                return;
            }
            const int64_t want = plan_.wholeBlocks ? plan_.block : std::min(plan_.block, plan_.size - read_);
            const auto n = source_.read(chunk.data.get() + used, want);
            if (!n || *n <= 0) {
                if (!n) chunk.readError = n.error();
                chunk.last = true;
                return;
            }
            chunk.blocks.push_back(*n);
            used += *n;
            read_ += *n;
        }
    }

    platform::RawStream& source_;
    bool seekable_;
    const Plan& plan_;
    int64_t capacity_;
    int64_t start_ = -1;
    int64_t read_ = 0;
    bool small_ = false;
};

// Buffers passed between the reader thread and the writing thread.
class Ring {
public:
    explicit Ring(std::vector<Chunk>& chunks) {
        for (size_t i = 0; i < chunks.size(); ++i)
            free_.push_back(i);
    }
    // Reader side: a buffer to fill, or nothing once cancelled.
    std::optional<size_t> takeFree() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancelled_ || !free_.empty(); });
        if (cancelled_) return std::nullopt;
        const size_t i = free_.front();
        free_.pop_front();
        return i;
    }
    void putFilled(size_t i) {
        {
            std::lock_guard lock(mutex_);
            filled_.push_back(i);
        }
        changed_.notify_all();
    }
    // Writer side: the next filled buffer, or nothing when `timeout` passed first.
    std::optional<size_t> takeFilled(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return !filled_.empty(); })) return std::nullopt;
        const size_t i = filled_.front();
        filled_.pop_front();
        return i;
    }
    void putFree(size_t i) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(i);
        }
        changed_.notify_all();
    }
    void cancel() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<size_t> free_, filled_;
    bool cancelled_ = false;
};

// Takes chunks in order: calls back after every block, then writes what was counted.
class Writer {
public:
    Writer(platform::RawStream& sink, const Plan& plan, const Callbacks& callbacks, Outcome& out)
        : sink_(sink), plan_(plan), callbacks_(callbacks), out_(out), start_(sink.position().valueOr(-1)) {}

    // False when the loop ends with this chunk.
    bool take(const Chunk& chunk) {
        const int64_t before = out_.total;
        int64_t counted = 0;
        size_t blocks = 0;
        bool go = true;
        // The reader hands on no block the loop would have dropped (one read once the total
        // reached the size), so every block here is counted.
        for (const int64_t n : chunk.blocks) {
            if (plan_.shortBlockEnds && n < std::min(plan_.block, plan_.size - out_.total)) {
                out_.shortRead = true;
                go = false;
                break;
            }
            out_.total += n;
            counted += n;
            ++blocks;
            if (callbacks_.afterBlock && !callbacks_.afterBlock(out_.total)) {
                out_.stopped = true;
                go = false;
                break;
            }
        }
        // A read that failed ends the loop once every block before it was taken.
        if (go && chunk.last && chunk.readError) out_.readError = chunk.readError;
        if (counted == 0) return go && !chunk.last;
        if (callbacks_.counted)
            callbacks_.counted(reinterpret_cast<const uint8_t*>(chunk.data.get()), counted);
        const int64_t chunkAt = out_.written;
        const auto w = chunk.inKernel ? chunk.kernel->drain(counted) : sink_.write(chunk.data.get(), counted);
        int64_t took = w ? *w : 0;
        // What the sink did not take, or the loop did not count, leaves the system's buffer for
        // memory, where it was all along on the other path; lost, it cannot be written again.
        bool lost = false;
        if (chunk.inKernel && chunk.kernel->held() > 0) {
            const int64_t rest = chunk.kernel->held();
            const auto back = chunk.kernel->take(chunk.data.get() + took, rest);
            lost = !back || *back != rest;
        }
        if (took == counted) {
            out_.written += took;
            return go && !chunk.last;
        }
        std::optional<platform::Error> error = w ? platform::errnoError(ENOSPC) : w.error();
        // Written again from where it failed in the loop's own blocks, so the bytes that reach the
        // sink, and where they end, are the loop's even when a device refuses a whole large write.
        if (!lost && start_ >= 0 &&
            sink_.seek(start_ + chunkAt + took, platform::SeekOrigin::Begin).valueOr(-1) ==
                start_ + chunkAt + took) {
            int64_t blockStart = 0;
            for (size_t b = 0; b < blocks && took < counted; ++b) {
                const int64_t blockEnd = blockStart + chunk.blocks[b];
                if (blockEnd > took) {
                    const int64_t want = blockEnd - took;
                    const auto again = sink_.write(chunk.data.get() + took, want);
                    took += again ? *again : 0;
                    if (!again || *again != want) {
                        error = again ? platform::errnoError(ENOSPC) : again.error();
                        break;
                    }
                    error.reset();
                }
                blockStart = blockEnd;
            }
        }
        out_.written += took;
        if (took == counted) return go && !chunk.last;
        out_.writeError = error;
        // The loop counted the block it failed to write, and none after it.
        int64_t end = 0;
        for (size_t b = 0; b < blocks; ++b) {
            end += chunk.blocks[b];
            if (end > took) break;
        }
        out_.total = before + end;
        return false;
    }

private:
    platform::RawStream& sink_;
    const Plan& plan_;
    const Callbacks& callbacks_;
    Outcome& out_;
    int64_t start_;
};

} // namespace

Outcome run(platform::RawStream& source, platform::RawStream& sink, const Plan& plan,
            const Callbacks& callbacks) {
    Outcome out;
    const bool seekable = source.position().ok();
    if (plan.size <= 0 && !plan.wholeBlocks) return out;
    // A pipe is read as the small-block loop read it, one block at a time: its data comes as it
    // comes, and each block reaches the sink without waiting for a large buffer to fill.
    const int64_t capacity =
        seekable ? std::max(plan.block, plan.buffer / plan.block * plan.block) : plan.block;
    Reader reader(source, seekable, plan, capacity);
    Writer writer(sink, plan, callbacks, out);

    // A pipe is read on this thread: a reader thread blocked on it could not be stopped.
    const int count = seekable ? std::max(1, plan.buffers) : 1;
    std::vector<Chunk> chunks(static_cast<size_t>(count));
    for (auto& c : chunks)
        c.data = allocate(capacity);
    // Bytes nobody here looks at may go from source to sink inside the system, one copy fewer.
    if (seekable && !callbacks.counted) {
        for (auto& c : chunks)
            if (!(c.kernel = platform::kernelBuffer(source, sink, capacity))) break;
        if (!chunks.back().kernel)
            for (auto& c : chunks)
                c.kernel.reset();
    }

    if (count == 1) {
        do {
            reader.fill(chunks[0]);
        } while (writer.take(chunks[0]));
        return out;
    }

    Ring ring(chunks);
    std::thread thread([&] {
        while (const auto i = ring.takeFree()) {
            reader.fill(chunks[*i]);
            const bool last = chunks[*i].last;
            ring.putFilled(*i);
            if (last) return;
        }
    });
    for (;;) {
        const auto i = ring.takeFilled(std::chrono::milliseconds(100));
        if (!i) {
            if (callbacks.waiting && !callbacks.waiting()) {
                out.stopped = true;
                break;
            }
            continue;
        }
        const bool more = writer.take(chunks[*i]);
        ring.putFree(*i);
        if (!more) break;
    }
    ring.cancel();
    thread.join();
    return out;
}

} // namespace blocks
