// The range job's own refusals, each with its message, and Stop given back when it ends.

#include "jobs/range_job.h"
#include "jobs/stream_adapter.h"
#include "support/memory_stream.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace {

TEST(RangeJob, RangesThatCannotBeCountedOrRunPastTheEndAreRefused) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const struct {
        int64_t offset, size;
        bool lengthKnown;
        std::string refusal; // empty: the range passes
    } cases[] = {
        {8191, 1, true, ""},
        {8191, 2, false, ""}, // nothing to check against
        {-1, 1, true, "The selection's offset and size must not be negative."},
        {0, -1, true, "The selection's offset and size must not be negative."},
        {kMax, 1, true,
         "The selection's range is too large: offset 9223372036854775807 plus size 1 lies beyond the last "
         "byte any device can have."},
        {8191, 2, true,
         "The selection ends at byte 8193, beyond the end of d, which has 8192 bytes. Nothing was written."},
    };
    platform::testkit::TestBackend backend;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " " << c.size);
        ScriptedUi ui;
        platform::testkit::MemoryStream stream(std::vector<uint8_t>(8192));
        stream.failLength = !c.lengthKnown;
        TFileInfo sel;
        sel.Description = "d";
        sel.Offset = c.offset;
        sel.Size = c.size;
        jobs::RangeJob range(backend, ui, ui, jobs::RangeJob::Busy::No);
        EXPECT_EQ(range.checkRange(sel) && range.fitsInside(stream, sel), c.refusal.empty());
        EXPECT_EQ(ui.texts(), c.refusal.empty() ? std::vector<std::string>{} : std::vector{c.refusal});
    }
}

// A stream that says it got there but stands elsewhere, or cannot go there, is not used.
TEST(RangeJob, APositionIsTakenOnlyWhereTheStreamStands) {
    // Seeks report the target, yet the stream stays `drift` bytes short of it; or they fail.
    struct Drifting final : jobs::StreamAdapter {
        int64_t drift = 0, at = 0;
        bool fail = false;
        platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin) override {
            if (fail) return platform::errnoError(ESPIPE);
            at = offset - drift;
            return offset;
        }
        platform::Result<int64_t> position() override { return at; }
    };
    platform::testkit::TestBackend backend;
    for (const auto& [drift, fail, placed] :
         {std::tuple{0, false, true}, {1, false, false}, {0, true, false}}) {
        ScriptedUi ui;
        Drifting stream;
        stream.drift = drift, stream.fail = fail;
        jobs::RangeJob range(backend, ui);
        EXPECT_EQ(range.position(stream, 512, "not there"), placed);
        EXPECT_EQ(ui.texts(), placed ? std::vector<std::string>{} : std::vector<std::string>{"not there"});
    }
}

// A job that does not lock the buttons still takes Stop back when it ends.
TEST(RangeJob, StopOfferedIsWithdrawnAtTheEnd) {
    platform::testkit::TestBackend backend;
    ScriptedUi ui;
    {
        jobs::RangeJob range(backend, ui, ui, jobs::RangeJob::Busy::No);
        range.offerStop();
    }
    EXPECT_EQ(ui.modeLog, (std::vector<std::string>{"stoppable", "unstoppable"}));
}

} // namespace
