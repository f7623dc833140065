// tarnwick-cli disasm, run in-process: the demo drive's boot code against its golden listing, and
// the command's usage errors and failures.
//
// The golden listing is compared byte for byte. After a deliberate change to the library's output,
// write it anew with TARNWICK_REGENERATE_GOLDEN=1 and review the difference before committing it.

#include "cli/command_line.h"
#include "disasm_test_support.h"
#include "discovery/demo_drive.h"
#include "inspect/commands.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using Args = std::vector<std::string>;

namespace {

// The arguments as tarnwick-cli gets them, command first, parsed as it parses them.
cli::CommandLine line(const Args& args) {
    return cli::parseCommandLine(args);
}

struct Listing {
    int status = -1;
    std::string out;
    std::vector<std::string> messages;
};

Listing runDisasm(const std::string& source, const Args& options) {
    platform::testkit::TestBackend backend;
    ScriptedUi ui;
    std::ostringstream out, err;
    Listing r;
    Args args{"disasm", source};
    args.insert(args.end(), options.begin(), options.end());
    r.status = inspect::disasmCommand(backend, line(args), ui, ui, out, err, plugin());
    r.out = out.str();
    r.messages = ui.texts();
    return r;
}

} // namespace

TEST(DisasmCli, DemoDriveBootCodeMatchesItsGoldenListing) {
    fixtures::TempDir dir;
    demo::writeDemoImage(dir.file("demo.img"));
    // The boot code area of the master boot record, before the partition table.
    const Listing r = runDisasm(dir.file("demo.img"), {"--max", "446"});
    EXPECT_EQ(r.status, 0);
    const std::string golden = std::string(TW_GOLDEN_DIR) + "/demo_boot_code.lst";
    if (const char* regenerate = std::getenv("TARNWICK_REGENERATE_GOLDEN");
        regenerate && *regenerate == '1') {
        std::ofstream file(golden, std::ios::binary);
        ASSERT_TRUE(file << r.out && file.flush()) << "cannot write " << golden;
        GTEST_SKIP() << "wrote " << golden;
    }
    std::ifstream in(golden, std::ios::binary);
    EXPECT_EQ(r.out, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

TEST(DisasmCli, UsageErrorsComeBeforeAnythingIsOpened) {
    const std::vector<Args> cases{
        {"disasm"},
        {"disasm", "a", "b"},
        {"disasm", "a", "--size", "1"},
        {"disasm", "a", "--max", "67108865"},
        {"disasm", "a", "--max", "many"},
        {"disasm", "a", "--offset", "-512"},
        {"disasm", "a", "--bits", "8"},
    };
    for (const auto& args : cases) {
        platform::testkit::TestBackend backend;
        ScriptedUi ui;
        std::ostringstream out, err;
        EXPECT_THROW(inspect::disasmCommand(backend, line(args), ui, ui, out, err), std::invalid_argument);
        EXPECT_TRUE(backend.opens().empty());
    }
}

TEST(DisasmCli, ListsFromTheOffsetInTheModeAskedAndOnlyInsideTheSource) {
    fixtures::TempDir dir;
    fixtures::writeFile(dir.file("code.bin"), {0x90, 0x90, 0xB8, 0x78, 0x56, 0x34, 0x12});
    const Listing r = runDisasm(dir.file("code.bin"), {"--offset", "0x2", "--max", "5", "--bits", "32"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "00000002\tB878563412\tMOV EAX, 12345678h\n");

    // --offset and --max count inside SOURCE: a listing that would leave it is refused before
    // anything is read, and without --max the listing stops at its end.
    const Listing past = runDisasm(dir.file("code.bin"), {"--offset", "6", "--max", "2"});
    EXPECT_EQ(past.status, 1);
    EXPECT_EQ(past.out, "");
    EXPECT_TRUE(past.messages.empty());
    const Listing rest = runDisasm(dir.file("code.bin"), {"--offset", "0x2", "--bits", "32"});
    EXPECT_EQ(rest.status, 0);
    EXPECT_EQ(rest.out, r.out);
}
