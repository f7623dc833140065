// The listing engine and the disassembly window's rules, over streams in memory and the test
// backend.

#include "disasm_test_support.h"
#include "inspect/disassembler.h"
#include "support/fixtures.h"
#include "support/memory_stream.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

using disasm::Fields;
using platform::testkit::MemoryStream;

namespace {

std::vector<disasm::Row> list(platform::RawStream& stream, int64_t max, ScriptedUi& ui,
                              bool* stopped = nullptr) {
    std::vector<disasm::Row> rows;
    const auto r =
        disasm::makeListing(stream, plugin(), max, ui, ui, [&](disasm::Row&& row) { rows.push_back(row); });
    if (stopped) *stopped = r.stopped;
    return rows;
}

} // namespace

TEST(DisasmListing, ShortReadIsWarnedAndTheRestListsAsZeros) {
    MemoryStream stream(std::vector<uint8_t>(20, 0x90));
    ScriptedUi ui;
    EXPECT_TRUE(list(stream, 0, ui).empty());
    EXPECT_TRUE(ui.asked.empty()); // Max 0: nothing, and no warning

    ASSERT_TRUE(stream.seek(4, platform::SeekOrigin::Begin));
    const auto rows = list(stream, 32, ui);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Warning. Could only read 16 bytes from device"});
    ASSERT_EQ(rows.size(), 16u + 8u); // 16 NOPs, then two-byte instructions over the zeros
    EXPECT_EQ(rows.front().fields, (Fields{"00000004", "90", "NOP"}));
    EXPECT_EQ(rows.back().fields, (Fields{"00000022", "0000", "ADD BYTE PTR [BX+SI], AL"}));

    // Addresses are the low 32 bits of the position.
    ASSERT_TRUE(stream.seek((int64_t(1) << 32) + 0x7C00, platform::SeekOrigin::Begin));
    EXPECT_EQ(list(stream, 2, ui).at(0).fields.address, "00007C00");
}

// The last instruction of a listing may run past its end: it is decoded from the bytes that
// follow, not from zeros.
TEST(DisasmListing, AnInstructionAcrossTheEndIsDecodedFromItsRealBytes) {
    MemoryStream stream(std::vector<uint8_t>{0x90, 0xBE, 0xBE, 0x07});
    ScriptedUi ui;
    const auto rows = list(stream, 2, ui);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].fields, (Fields{"00000001", "BEBE07", "MOV SI, 7BEh"}));
    EXPECT_TRUE(ui.asked.empty());
}

TEST(DisasmListing, PumpsWhenTheOffsetIsAMultipleOf16AndStopsWhenAsked) {
    MemoryStream nops(std::vector<uint8_t>(64, 0x90));
    MemoryStream threes(std::vector<uint8_t>(96, 0x05)); // ADD AX, 0505h: 16 is met every 48 bytes
    ScriptedUi ui, ui3, stopping;
    EXPECT_EQ(list(nops, 64, ui).size(), 64u);
    EXPECT_EQ(list(threes, 96, ui3).size(), 32u);
    EXPECT_EQ(ui.pumps, 4);
    EXPECT_EQ(ui3.pumps, 2);

    ASSERT_TRUE(nops.seek(0, platform::SeekOrigin::Begin));
    stopping.onPump = [&] { stopping.stop = stopping.pumps == 2; };
    bool stopped = false;
    EXPECT_EQ(list(nops, 64, stopping, &stopped).size(), 32u);
    EXPECT_TRUE(stopped);
}

TEST(DisasmListing, OpeningPositionsTheStreamOrSaysWhyNot) {
    fixtures::TempDir dir;
    TFileInfo sel;
    sel.FileName = dir.file("boot.bin");
    sel.DefaultName = "boot.bin";
    sel.Offset = 0x100;
    fixtures::writeFile(sel.FileName, std::vector<uint8_t>(1024, 0x90));
    platform::testkit::TestBackend backend;
    ScriptedUi ui;
    EXPECT_EQ(*disasm::openForListing(backend, ui, sel, plugin())->position(), 0x100);
    EXPECT_FALSE(disasm::openForListing(backend, ui, sel, disasm::DisasmLibrary::none()));
    backend.fileFaults(sel.FileName).failOpen = true;
    EXPECT_FALSE(disasm::openForListing(backend, ui, sel, plugin()));
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"Could not load disasm.dll.",
                                                    "Failed to open boot.bin. It may be in use."}));
    EXPECT_EQ(backend.openStreams(), 0);
}

TEST(DisasmListing, FieldsSplitAtTheFirstTwoTabs) {
    const std::vector<std::pair<std::string, Fields>> cases{
        {"  0000 \t B8 \t MOV  AX", {"0000", " B8 ", " MOV  AX"}}, // only the address is trimmed
        {"A\tB", {"A", "", "B"}},
        {"no tabs", {"", "", "no tabs"}},
        {"A\tB\tC\tD", {"A", "B", "C\tD"}},
    };
    for (const auto& [text, fields] : cases)
        EXPECT_EQ(disasm::splitFields(text), fields) << text;
}

TEST(DisasmListing, JumpReadsA32BitHexNumberAndSeeksItUnsigned) {
    const std::vector<std::pair<std::string, std::optional<uint32_t>>> cases{
        {" 7c1e\t", 0x7C1E},        {"000000007C1E", 0x7C1E},    {"FFFFFFFE", 0xFFFFFFFE},
        {"FFFFFFFF", std::nullopt}, {"100000000", std::nullopt}, {"", std::nullopt},
        {"0x10", std::nullopt},     {"-1", std::nullopt},        {"7C 1E", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(disasm::parseAddress(text), value) << text;

    MemoryStream stream;
    ScriptedUi ui;
    EXPECT_FALSE(disasm::seekToAddress(stream, ui, "  FFFFFFFF "));
    EXPECT_TRUE(disasm::seekToAddress(stream, ui, "80000000"));
    EXPECT_EQ(*stream.position(), 0x80000000);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"FFFFFFFF is not a valid hexadecimal number"});
}

TEST(DisasmListing, DoubleClickFollowsOnlyJumpsToHexNumbers) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"JMP 7C1Eh", "7C1E"},
        {"JZ 33h", "33"},
        {"JMP AX", std::nullopt},
        {"JMP [78Ah]", std::nullopt},
        {"CALL 1C32h", std::nullopt},
        {"JMP ", std::nullopt},
        {"Jh", "J"},
    };
    for (const auto& [text, target] : cases)
        EXPECT_EQ(disasm::jumpTarget(text), target) << text;
}
