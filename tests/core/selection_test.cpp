// How rows, files, edits and adjust actions turn into the selection record.

#include "core/selection.h"
#include "core/user_error.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <thread>

using namespace selection;

namespace {

using R = std::pair<int64_t, int64_t>;

// A drive and a partition as the lists make them (see discovery/selections).
TFileInfo drive(const std::string& n, int64_t size) {
    TFileInfo info;
    info.FileName = "\\\\.\\PHYSICALDRIVE" + n;
    info.Description = "Logical drive " + n;
    info.DisplayText = "LOGICAL DRIVE " + n + "   ( " + std::to_string(size / 1048576) + " MiB )";
    info.Size = info.BaseSize = size;
    info.CanRead = info.CanWrite = true;
    return info;
}

TFileInfo partition(int i, int64_t startSector, int64_t sectors) {
    TFileInfo info = drive("0", sectors * 512);
    info.Offset = info.BaseOffset = startSector * 512;
    info.Description = "Logical drive 0 partition " + std::to_string(i) +
                       " offset: " + std::to_string(info.Offset) + " size: " + std::to_string(info.Size);
    return info;
}

TEST(RowSelection, NumbersThatAreNotNumbersReadAsZero) {
    EXPECT_EQ(columnNumber({"a", "12x"}, 1), 0);
    EXPECT_EQ(columnNumber({"a"}, 5), 0);
}

TEST(EditNumbers, DecimalAndHexadecimal) {
    EXPECT_EQ(parseInteger("446", false), 446);
    EXPECT_EQ(parseInteger("1be", true), 446);
    EXPECT_EQ(parseInteger("1BE", true), 446);
    EXPECT_EQ(parseInteger("-512", false), -512) << "negative values are kept; each tool checks them";
    EXPECT_EQ(parseInteger("9223372036854775807", false), INT64_MAX);
    EXPECT_EQ(parseInteger("-9223372036854775808", false), INT64_MIN);
    EXPECT_EQ(parseInteger("FFFFFFFFFFFFFFFF", true), -1);
    EXPECT_EQ(parseInteger(" 12", false), 12);

    EXPECT_EQ(formatNumber(446, true), "000001BE");
    EXPECT_EQ(formatNumber(0x123456789A, true), "123456789A");
    EXPECT_EQ(formatNumber(-1, true), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(formatNumber(446, false), "446");
}

TEST(EditNumbers, InvalidTextsNameTheText) {
    for (const auto& [text, hex] : std::vector<std::pair<std::string, bool>>{{"", false},
                                                                             {"", true},
                                                                             {"1be", false},
                                                                             {"12 ", false},
                                                                             {"abc", false},
                                                                             {"-", false},
                                                                             {"99999999999999999999", false},
                                                                             {"9223372036854775808", false},
                                                                             {"10000000000000000", true},
                                                                             {"-5", true},
                                                                             {"0x", false}}) {
        try {
            parseInteger(text, hex);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const UserError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
        }
    }
}

TEST(EditNumbers, OffsetKeyFilter) {
    for (char32_t c : {U'0', U'9', char32_t(8), char32_t(13)})
        EXPECT_TRUE(offsetKeyAllowed(c, false));
    for (char32_t c : {U'a', U'F', U'-', U' ', U'x', U'$', char32_t(22)})
        EXPECT_FALSE(offsetKeyAllowed(c, false));
    for (char32_t c : {U'a', U'f', U'A', U'F'})
        EXPECT_TRUE(offsetKeyAllowed(c, true));
    for (char32_t c : {U'g', U'G', U'x'})
        EXPECT_FALSE(offsetKeyAllowed(c, true));
}

TEST(AdjustActions, WorkFromTheBaseRange) {
    TFileInfo info = drive("1", 1000000);
    info.Offset = 777;
    info.Size = 5;
    ASSERT_TRUE(applyAdjust(info, AdjustAction::Skip512));
    ASSERT_TRUE(applyAdjust(info, AdjustAction::Skip512));
    EXPECT_EQ(info.Offset, 512) << "twice is the same as once";
    EXPECT_EQ(info.Size, 1000000 - 512);
    EXPECT_EQ(info.Description, info.DisplayText + " offset: 512 size: 999488");

    applyAdjust(info, AdjustAction::BootRecord);
    EXPECT_EQ(R(info.Offset, info.Size), R(0, 512));
    applyAdjust(info, AdjustAction::MbrCode);
    EXPECT_EQ(R(info.Offset, info.Size), R(0, 446));
    applyAdjust(info, AdjustAction::PartitionTable);
    EXPECT_EQ(R(info.Offset, info.Size), R(446, 66));
    applyAdjust(info, AdjustAction::Undo);
    EXPECT_EQ(R(info.Offset, info.Size), R(0, 1000000));

    const TFileInfo before = info;
    EXPECT_FALSE(applyAdjust(info, AdjustAction::None));
    EXPECT_EQ(info, before);

    TFileInfo tiny = drive("2", 100);
    applyAdjust(tiny, AdjustAction::Skip512);
    EXPECT_EQ(R(tiny.Offset, tiny.Size), R(512, 0)) << "never a negative size";

    TFileInfo part = partition(1, 2048, 100);
    applyAdjust(part, AdjustAction::PartitionTable);
    EXPECT_EQ(part.Offset, 2048 * 512 + 446) << "relative to the item's own start";
    EXPECT_EQ(adjustActionTexts().size(), 5u);
}

TEST(CopyRule, SizesMustMatchAndDescriptionsDiffer) {
    TFileInfo a = partition(1, 63, 100);
    TFileInfo b = partition(2, 163, 100);
    EXPECT_TRUE(copyEnabled(a, b));
    EXPECT_FALSE(copyEnabled(a, a)) << "the same item as source and target";
    b.Size = 99;
    EXPECT_FALSE(copyEnabled(a, b));
    EXPECT_FALSE(copyEnabled(TFileInfo{}, TFileInfo{})) << "nothing to copy";
    TFileInfo c = a;
    c.Description = "logical drive 0 partition 1 offset: 32256 size: 51200";
    EXPECT_TRUE(copyEnabled(a, c)) << "descriptions compare case-sensitively";
}

TEST(MenuRules, ZipLimitAndFlags) {
    TFileInfo info;
    info.CanRead = true;
    info.Size = 2147483647;
    EXPECT_TRUE(menuState(info).saveAsZip);
    info.Size = 2147483648;
    EXPECT_FALSE(menuState(info).saveAsZip);
    info.Size = -1;
    EXPECT_TRUE(menuState(info).saveAsZip);
    info.CanRead = false;
    info.Size = 10;
    EXPECT_FALSE(menuState(info).saveAsZip);
    EXPECT_FALSE(menuState(info).selectionMenu);
    info.CanWrite = true;
    EXPECT_TRUE(menuState(info).loadItems);
}

TEST(FileSelection, TakesTheWholeFileAndItsWritability) {
    fixtures::TempDir dir;
    const std::string path = dir.file("big.img");
    { std::ofstream(path).put('x'); }
    std::filesystem::resize_file(path, 5000000000); // sparse: over 4 GiB without the disk space
    TFileInfo previous = drive("0", 1000);
    previous.DefaultExt = ".drv";
    previous.DriveText = "0";
    previous.Offset = 99;
    const TFileInfo info = fromFile(platform::systemBackend(), previous, path);
    EXPECT_EQ(info.Size, 5000000000);
    EXPECT_EQ(info.BaseSize, 5000000000);
    EXPECT_EQ(info.Offset, 0);
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.Description, path);
    EXPECT_EQ(info.DisplayText, path);
    EXPECT_EQ(info.DefaultName, "big.img");
    EXPECT_EQ(info.DefaultExt, ".drv") << "kept from the previous selection";
    EXPECT_EQ(info.DriveText, "0");
    EXPECT_TRUE(info.CanRead);
    EXPECT_TRUE(info.CanWrite);

#ifndef _WIN32
    if (::geteuid() != 0) { // root may write anything, whatever the mode says
        ::chmod(path.c_str(), 0444);
        EXPECT_FALSE(fromFile(platform::systemBackend(), TFileInfo{}, path).CanWrite);
    }
#endif
}

// Opening a pipe waits for a writer, and its bytes can be read only once: it is refused at once.
TEST(FileSelection, APipeIsRefusedWithoutWaiting) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no named pipes in its folders";
#else
    fixtures::TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the selection wait for a writer after all, this one lets it go after a while, so the
    // test fails instead of hanging.
    std::promise<void> returned;
    std::thread rescue([&, done = returned.get_future()] {
        if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) return;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    std::string error;
    try {
        fromFile(platform::systemBackend(), TFileInfo{}, fifo);
    } catch (const UserError& e) {
        error = e.what();
    }
    returned.set_value();
    rescue.join();
    EXPECT_EQ(error, "Cannot open file \"" + fifo +
                         "\". It is a pipe: its bytes can be read only once, so it cannot be selected.");
#endif
}

TEST(FileSelection, OpenFailureNamesTheFile) {
    try {
        fromFile(platform::systemBackend(), TFileInfo{}, "/nonexistent/x.img");
        FAIL();
    } catch (const UserError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"/nonexistent/x.img\". " + fixtures::noSuchPathText());
    }
}

// A selection remembers what its name led to: once the name leads to another drive or file, the
// open is refused as a change, with no stream to read or write.
TEST(OpenSelection, ANameThatNowLeadsElsewhereIsRefused) {
    fixtures::TempDir dir;
    platform::testkit::TestBackend backend;
    for (const char* name : {"d0.img", "d1.img", "a.raw", "b.raw"})
        fixtures::writePatternFile(dir.file(name), 4096);
    backend.addDrive(platform::testkit::VirtualDrive(dir.file("d0.img")));
    backend.addDrive(platform::testkit::VirtualDrive(dir.file("d1.img")));
    TFileInfo drive0 = drive("0", 4096);
    drive0.Identity = (*backend.open(drive0.FileName, platform::OpenMode::Read))->fingerprint();
    const TFileInfo file = fromFile(backend, TFileInfo{}, dir.file("a.raw"));
    const auto opens = [&](const TFileInfo& info) {
        const auto opened = openSelection(backend, info, platform::OpenMode::Read);
        EXPECT_NE(opened.changed, opened.stream != nullptr);
        return opened.stream != nullptr;
    };
    EXPECT_TRUE(opens(drive0));
    EXPECT_TRUE(opens(file));
    backend.removeDrive(0); // drive 1 is number 0 now
    std::filesystem::rename(dir.file("b.raw"), dir.file("a.raw"));
    EXPECT_FALSE(opens(drive0));
    EXPECT_FALSE(opens(file));
}

} // namespace
