// The block engine against the small-block loop it replaces: over the same scripted faults it
// must leave the same bytes at the destination and report the same counts.

#include "jobs/block_engine.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

using platform::testkit::Faults;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

constexpr int64_t kSourceSize = 256 * 1024 + 300;
constexpr int64_t kSinkSize = 300 * 1024;
constexpr int64_t kSourceOffset = 1000; // not aligned to anything

struct Result {
    int64_t total = 0, written = 0;
    bool writeFailed = false, stopped = false;
    std::vector<int64_t> totals; // after every block
};

// The loop as the actions ran it before the engine: 8 KiB read, count, write, report.
Result smallBlockLoop(platform::RawStream& in, platform::RawStream& out, int64_t size, bool wholeBlocks,
                      size_t stopAfter) {
    std::vector<char> buffer(8192);
    Result r;
    for (;;) {
        const int64_t want = wholeBlocks ? 8192 : std::min<int64_t>(8192, size - r.total);
        if (want <= 0) break;
        const auto n = in.read(buffer.data(), want);
        const int64_t got = n ? *n : 0;
        if (got <= 0 || r.total >= size) break;
        r.total += got;
        const auto w = out.write(buffer.data(), got);
        r.written += w ? *w : 0;
        if (!w || *w != got) {
            r.writeFailed = true;
            break;
        }
        r.totals.push_back(r.total);
        if (r.totals.size() == stopAfter) {
            r.stopped = true;
            break;
        }
    }
    return r;
}

Result engine(platform::RawStream& in, platform::RawStream& out, int64_t size, bool wholeBlocks,
              size_t stopAfter, int buffers, int64_t buffer = 64 * 1024) {
    Result r;
    blocks::Plan plan;
    plan.size = size;
    plan.wholeBlocks = wholeBlocks;
    plan.buffer = buffer; // several buffers per run, so their seams are crossed
    plan.buffers = buffers;
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t total) {
        r.totals.push_back(total);
        return r.totals.size() != stopAfter;
    };
    const auto o = blocks::run(in, out, plan, callbacks);
    r.total = o.total;
    r.written = o.written;
    r.writeFailed = o.writeError.has_value();
    r.stopped = o.stopped;
    return r;
}

void expectSame(const Result& got, const Result& expected) {
    EXPECT_EQ(got.total, expected.total);
    EXPECT_EQ(got.written, expected.written);
    EXPECT_EQ(got.writeFailed, expected.writeFailed);
    EXPECT_EQ(got.stopped, expected.stopped);
    // The engine reports a block before writing it; so up to a failed write the reports agree.
    if (!expected.writeFailed) {
        EXPECT_EQ(got.totals, expected.totals);
    }
}

struct Case {
    const char* name;
    Faults source, sink;
};

TEST(BlockEngine, GivesTheSmallBlockLoopsResultUnderEveryFault) {
    const auto at = [](auto member, int64_t k) {
        Faults f;
        f.*member = k;
        return f;
    };
    const std::vector<Case> cases{
        {"no fault", {}, {}},
        {"device ends inside a block", at(&Faults::endsAt, kSourceOffset + 20000), {}},
        {"device ends on a block edge", at(&Faults::endsAt, kSourceOffset + 5 * 8192), {}},
        {"device ends past a buffer", at(&Faults::endsAt, kSourceOffset + 100000), {}},
        {"read error in the first block", at(&Faults::readErrorAt, kSourceOffset + 100), {}},
        {"read error past a buffer", at(&Faults::readErrorAt, kSourceOffset + 70000), {}},
        {"short write", {}, at(&Faults::shortWriteAt, 30000)},
        {"short write past a buffer", {}, at(&Faults::shortWriteAt, 90001)},
        {"write error", {}, at(&Faults::writeErrorAt, 50000)},
    };
    const std::vector<int64_t> sizes{
        0, 1, 8191, 8192, 10000, 3 * 8192 + 5, 65536, 100000, kSourceSize - kSourceOffset};

    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("src.img"), kSourceSize, 3);
    for (const auto& c : cases) {
        for (const int64_t size : sizes) {
            for (const bool wholeBlocks : {true, false}) {
                for (const size_t stopAfter : {size_t(0), size_t(3), size_t(9)}) {
                    for (const int buffers : {1, 4}) {
                        SCOPED_TRACE(std::string(c.name) + ", size " + std::to_string(size) +
                                     (wholeBlocks ? ", whole blocks" : ", exact") + ", stop after " +
                                     std::to_string(stopAfter) + ", buffers " + std::to_string(buffers));
                        fixtures::writePatternFile(dir.file("a.img"), kSinkSize, 9);
                        fixtures::writePatternFile(dir.file("b.img"), kSinkSize, 9);
                        TestBackend backend;
                        VirtualDrive source(dir.file("src.img"));
                        source.faults = c.source;
                        backend.addDrive(source);
                        for (const char* sink : {"a.img", "b.img"}) {
                            VirtualDrive d(dir.file(sink));
                            d.faults = c.sink;
                            backend.addDrive(d);
                        }
                        const auto open = [&](int n, platform::OpenMode mode) {
                            auto s = backend.open(platform::physicalDriveName(n), mode);
                            EXPECT_TRUE(s.ok());
                            return std::move(*s);
                        };
                        auto in = open(0, platform::OpenMode::Read);
                        ASSERT_EQ(in->seek(kSourceOffset, platform::SeekOrigin::Begin).valueOr(-1),
                                  kSourceOffset);
                        auto sinkA = open(1, platform::OpenMode::Write);
                        const Result expected = smallBlockLoop(*in, *sinkA, size, wholeBlocks, stopAfter);
                        ASSERT_EQ(in->seek(kSourceOffset, platform::SeekOrigin::Begin).valueOr(-1),
                                  kSourceOffset);
                        auto sinkB = open(2, platform::OpenMode::Write);
                        expectSame(engine(*in, *sinkB, size, wholeBlocks, stopAfter, buffers), expected);
                        in.reset();
                        sinkA.reset();
                        sinkB.reset();
                        ASSERT_EQ(fixtures::readFile(dir.file("a.img")),
                                  fixtures::readFile(dir.file("b.img")));
                    }
                }
            }
        }
    }
}

// Into a block device written through the cache, the bytes pass inside the system where it can
// (splice on Linux): that path too must give the small-block loop's result, at its seams and at
// whatever cuts it short.
TEST(BlockEngine, GivesTheSmallBlockLoopsResultWhenTheSystemMovesTheBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no loop devices";
#else
    // Buffers larger than one pipe may be, so that each is held in two.
    constexpr int64_t kDevice = 4 << 20, kBefore = 64 << 10, kBuffer = 1536 << 10;
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("src.img"), kDevice + 300000, 3);
    fixtures::writePatternFile(dir.file("a.img"), kBefore + kDevice, 9);
    fixtures::writePatternFile(dir.file("b.img"), kBefore + kDevice, 9);
    fixtures::LoopDevice a(dir.file("a.img"), kBefore), b(dir.file("b.img"), kBefore);
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason() << b.reason();
    struct Run {
        const char* name;
        int64_t from, size;
        bool wholeBlocks;
        size_t stopAfter;
    };
    for (const Run& r :
         std::vector<Run>{{"the whole device", 0, kDevice, false, 0},
                          {"whole blocks past an odd size", 4096, 2000001, true, 0},
                          {"the source ends inside a buffer", 100 * 4096, kDevice, false, 0},
                          {"the device ends inside a buffer", 4096, kDevice + 30000, false, 0},
                          {"stopped inside a buffer's second pipe", 8192, kDevice, true, 330}}) {
        SCOPED_TRACE(r.name);
        auto& system = platform::systemBackend();
        auto in = std::move(*system.open(dir.file("src.img"), platform::OpenMode::Read));
        auto sinkA = std::move(*system.open(a.node(), platform::OpenMode::Write));
        auto sinkB = std::move(*system.open(b.node(), platform::OpenMode::Write));
        ASSERT_EQ(in->seek(r.from, platform::SeekOrigin::Begin).valueOr(-1), r.from);
        const Result expected = smallBlockLoop(*in, *sinkA, r.size, r.wholeBlocks, r.stopAfter);
        ASSERT_EQ(in->seek(r.from, platform::SeekOrigin::Begin).valueOr(-1), r.from);
        ASSERT_TRUE(platform::kernelBuffer(*in, *sinkB, kBuffer)) << "the path under test is not taken";
        expectSame(engine(*in, *sinkB, r.size, r.wholeBlocks, r.stopAfter, 4, kBuffer), expected);
        ASSERT_TRUE(sinkA->flush().ok() && sinkB->flush().ok());
        sinkA.reset();
        sinkB.reset();
        ASSERT_EQ(fixtures::readFile(dir.file("a.img")), fixtures::readFile(dir.file("b.img")));
    }
#endif
}

// Stop is asked after every block; once it is answered, not one more byte reaches the sink.
TEST(BlockEngine, NothingArrivesAfterStop) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("src.img"), 4 << 20, 1);
    fixtures::writePatternFile(dir.file("dst.img"), 4 << 20, 2);
    auto& system = platform::systemBackend();
    for (const int buffers : {1, 4}) {
        auto in = std::move(*system.open(dir.file("src.img"), platform::OpenMode::Read));
        auto out = std::move(*system.open(dir.file("dst.img"), platform::OpenMode::Write));
        blocks::Plan plan;
        plan.size = 4 << 20;
        plan.buffers = buffers;
        int calls = 0;
        blocks::Callbacks callbacks;
        callbacks.afterBlock = [&](int64_t) { return ++calls < 200; };
        const auto o = blocks::run(*in, *out, plan, callbacks);
        EXPECT_TRUE(o.stopped);
        EXPECT_EQ(o.total, 200 * 8192);
        EXPECT_EQ(o.written, 200 * 8192);
        EXPECT_EQ(out->position().valueOr(-1), 200 * 8192) << "buffers " << buffers;
    }
}

// A pipe is read as it comes: its data ends the copy, short reads and all.
TEST(BlockEngine, ReadsAPipeToItsEnd) {
#ifdef _WIN32
    GTEST_SKIP() << "a pipe is opened by its /dev/fd name, which Windows does not have";
#else
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        std::vector<char> piece(3000);
        for (int i = 0; i < 100; ++i) {
            std::fill(piece.begin(), piece.end(), char(i));
            if (::write(fd, piece.data(), piece.size()) != ssize_t(piece.size())) break;
        }
        ::close(fd);
    });
    fixtures::TempDir dir;
    const std::string path = "/dev/fd/" + std::to_string(fds[0]);
    auto in = std::move(*platform::systemBackend().open(path, platform::OpenMode::Read));
    ::close(fds[0]);
    auto out = std::move(*platform::systemBackend().open(dir.file("out"), platform::OpenMode::Create));
    blocks::Plan plan;
    plan.size = 1 << 20;
    const auto o = blocks::run(*in, *out, plan, {});
    writer.join();
    EXPECT_EQ(o.total, 300000);
    EXPECT_EQ(o.written, 300000);
    const auto bytes = fixtures::readFile(dir.file("out"));
    ASSERT_EQ(bytes.size(), 300000u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], uint8_t(i / 3000)) << i;
#endif
}

} // namespace
