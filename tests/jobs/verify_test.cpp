// Reading back: every differing byte counted and the first one placed, also beyond the first
// block; a side that fails or ends early is an error, never a match.

#include "jobs/verify.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

namespace {

TEST(Verify, CountsDifferencesAndNeverTakesAFailedReadForAMatch) {
    constexpr int64_t kSize = 3 << 20, kBlock = 1 << 20, kLate = kBlock + 5;
    fixtures::TempDir dir;
    const std::string expected = dir.file("expected"), actual = dir.file("actual");
    fixtures::writePatternFile(expected, kSize, 7);
    const struct {
        const char* name;
        std::vector<int64_t> flipped; // bytes of `actual` that differ
        std::optional<int64_t> expectedFailsAt, actualFailsAt, actualEndsAt;
        int64_t compared, differing;
        std::optional<int64_t> first;
        bool error;
        const char* blamed; // what the report names as unreadable
    } cases[] = {
        {"two bytes differ", {kLate, kSize - 1}, {}, {}, {}, kSize, 2, kLate, false, ""},
        {"the expected side fails", {}, kLate, {}, {}, kBlock, 0, {}, true, "the source could not be read"},
        {"the actual side fails", {}, {}, kLate, {}, kBlock, 0, {}, true, "t could not be read back"},
        {"the actual side ends early", {}, {}, {}, kLate, kLate, 0, {}, true, "t could not be read back"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = fixtures::readFile(expected);
        for (const int64_t at : c.flipped)
            bytes[size_t(at)] ^= 0xFF;
        fixtures::writeFile(actual, bytes);
        platform::testkit::TestBackend backend;
        backend.fileFaults(expected).readErrorAt = c.expectedFailsAt;
        backend.fileFaults(actual).readErrorAt = c.actualFailsAt;
        backend.fileFaults(actual).endsAt = c.actualEndsAt;
        auto e = backend.open(expected, platform::OpenMode::Read);
        auto a = backend.open(actual, platform::OpenMode::Read);
        ASSERT_TRUE(e && a);
        ScriptedUi ui;
        ui.onPump = [&ui] { ui.stop = ui.pumps > 8; }; // a compare that never ends stops instead
        const auto r = verify::compare(**e, **a, kSize, ui);
        EXPECT_EQ(r.compared, c.compared);
        EXPECT_EQ(r.differing, c.differing);
        EXPECT_EQ(r.first, c.first);
        EXPECT_EQ(r.error.has_value(), c.error);
        EXPECT_FALSE(r.stopped);
        EXPECT_NE(verify::report(r, kSize, "t", 0).find(c.blamed), std::string::npos)
            << verify::report(r, kSize, "t", 0);
    }
}

} // namespace
