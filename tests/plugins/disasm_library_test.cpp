// The disassembler library through the program's wrapper: its syntax, loading it, and a library
// that breaks the contract.

#include "disasm_test_support.h"
#include "guarded_bytes.h"
#include "inspect/disassembler.h"
#include "support/memory_stream.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <filesystem>

using disasm::DisasmLibrary;
using disasm::Fields;
using disasm::Mode;

TEST(DisasmLibrary, WritesIntelSyntaxWithUpperCaseAndHSuffixedNumbers) {
    struct Case {
        std::vector<uint8_t> code;
        uint32_t address;
        Mode mode;
        Fields fields;
        int32_t length;
    };
    std::vector<uint8_t> prefixes(15, 0x66); // with the opcode, one byte too long
    prefixes.push_back(0x90);
    const std::vector<Case> cases{
        {{0xEB, 0x1C}, 0x7C00, Mode::Real16, {"00007C00", "EB1C", "JMP 7C1Eh"}, 2},     // absolute target
        {{0xEB, 0x3C}, 0x100000, Mode::Real16, {"00100000", "EB3C", "JMP 10003Eh"}, 2}, // not cut at 64 KiB
        {{0xE9, 0xFD, 0x2F}, 0x7000, Mode::Real16, {"00007000", "E9FD2F", "JMP 0A000h"}, 3},
        {{0xB8, 0xEF, 0xBE}, 0, Mode::Real16, {"00000000", "B8EFBE", "MOV AX, 0BEEFh"}, 3},
        {{0xC6, 0x44, 0x1A, 0}, 0, Mode::Real16, {"00000000", "C6441A00", "MOV BYTE PTR [SI+1Ah], 0h"}, 4},
        {{0xFF, 0x00}, 0, Mode::Real16, {"00000000", "FF00", "INC WORD PTR [BX+SI]"}, 2},
        {{0xEA, 0x1E, 0x06, 0, 0}, 0, Mode::Real16, {"00000000", "EA1E060000", "JMP FAR 0000:061E"}, 5},
        {{0x0F, 0x04}, 0, Mode::Real16, {"00000000", "0F", "DB 0Fh"}, 1},
        {{0xFF, 0xFF}, 0, Mode::Real16, {"00000000", "FF", "DB 0FFh"}, 1},
        {prefixes, 0, Mode::Real16, {"00000000", "66", "DB 66h"}, 1},
        {{0x90}, 0xFFFFFFFF, Mode::Real16, {"FFFFFFFF", "90", "NOP"}, 1},
        {{0x40}, 0, Mode::Protected32, {"00000000", "40", "INC EAX"}, 1},
        {{0x48, 0x8B, 0x05, 0x10, 0, 0, 0},
         0x1000,
         Mode::Long64,
         {"00001000", "488B0510000000", "MOV RAX, QWORD PTR [1017h]"},
         7},
    };
    ASSERT_TRUE(plugin().available());
    for (const auto& c : cases) {
        const auto d = plugin().decode(c.code, c.address, c.mode);
        EXPECT_EQ(d.fields, c.fields);
        EXPECT_EQ(d.length, c.length) << c.fields;
    }
}

// What a segment, address-size or operand-size prefix changes is in the text, not only in the bytes.
TEST(DisasmLibrary, ShowsWhatPrefixesChange) {
    struct Case {
        std::vector<uint8_t> code;
        uint32_t address;
        Mode mode;
        std::string disassembly;
    };
    const std::vector<Case> cases{
        {{0x26, 0xAC}, 0, Mode::Real16, "LODS AL, BYTE PTR ES:[SI]"},
        {{0xF3, 0x2E, 0xA4}, 0, Mode::Real16, "REP MOVS BYTE PTR ES:[DI], BYTE PTR CS:[SI]"},
        {{0x2E, 0xD7}, 0, Mode::Real16, "XLAT BYTE PTR CS:[BX]"},
        {{0x67, 0xA4}, 0, Mode::Real16, "MOVS BYTE PTR ES:[EDI], BYTE PTR [ESI]"},
        {{0x3E, 0xAC}, 0, Mode::Real16, "LODSB"}, // DS is what LODS reads anyway
        {{0x65, 0x6D}, 0, Mode::Real16, "INSW"},  // INS writes to ES:DI whatever the prefix
        {{0x67, 0xE2, 0xF6}, 0x7C00, Mode::Real16, "LOOP 7BF9h, ECX"},
        {{0x66, 0xCB}, 0, Mode::Real16, "RETFD"},
        {{0xCB}, 0, Mode::Real16, "RETF"},
        {{0x66, 0x1F}, 0, Mode::Real16, "POPD DS"},
        {{0x66, 0x06}, 0, Mode::Real16, "PUSHD ES"},
        {{0x66, 0x6A, 0x05}, 0, Mode::Real16, "PUSHD 5h"},
        {{0x66, 0xE8, 0, 0, 0, 0}, 0x7C00, Mode::Real16, "CALLD 7C06h"},
        {{0x0F, 0x34}, 0, Mode::Real16, "SYSENTER"},
        {{0x0F, 0x35}, 0, Mode::Real16, "SYSEXIT"},
        {{0x66, 0xE9, 0xD1, 0x70}, 0x10000, Mode::Protected32, "JMP 70D5h"}, // IP is 16 bits wide
        {{0x66, 0xEB, 0x10}, 0x1FFF0, Mode::Protected32, "JMP 3h"},
        {{0xEB, 0x20}, 0xFFFFFFF0, Mode::Protected32, "JMP 12h"},
        {{0x67, 0xE2, 0}, 0x10000, Mode::Protected32, "LOOP 10003h, CX"},
        {{0x66, 0xC3}, 0, Mode::Protected32, "RETW"},
        {{0x26, 0xAC}, 0, Mode::Protected32, "LODS AL, BYTE PTR ES:[ESI]"},
        {{0x26, 0xAC}, 0, Mode::Long64, "LODSB"}, // ES is ignored in 64-bit code
        {{0x64, 0xAC}, 0, Mode::Long64, "LODS AL, BYTE PTR FS:[RSI]"},
        {{0x48, 0xCB}, 0, Mode::Long64, "RETFQ"},
        {{0x66, 0xE9, 0xD1, 0x70, 0, 0}, 0, Mode::Long64, "JMP 70D7h"}, // the override is ignored
        {{0xC5, 0xE8, 0x95, 0xF3}, 0, Mode::Long64, "DB 0C5h"},         // a Knights Corner mask instruction
    };
    for (const auto& c : cases)
        EXPECT_EQ(plugin().decode(c.code, c.address, c.mode).fields.disassembly, c.disassembly)
            << c.disassembly;
}

TEST(DisasmLibrary, ShortCodeIsDecodedWithoutReadingPastIt) {
    // MOV AX, imm16 needs three bytes; only the first is there, and the page after it is off limits.
    GuardedBytes code(std::vector<uint8_t>{0xB8});
    const auto d = plugin().decode(code.span(), 0);
    EXPECT_EQ(d.fields.disassembly, "MOV AX, 0h");
    EXPECT_EQ(d.length, 3);
}

TEST(DisasmLibrary, LoadsFromTheProgramsFolderAndRefusesWhatIsNotIt) {
    EXPECT_TRUE(DisasmLibrary::load().available()); // the tests live beside the library
    EXPECT_FALSE(DisasmLibrary::loadFrom({"/nonexistent/libDisasm.so"}).available());
    EXPECT_FALSE(DisasmLibrary::loadFrom({TW_NO_EXPORT_DISASM}).available());
    EXPECT_TRUE(DisasmLibrary::loadFrom({"/nonexistent/libDisasm.so", TW_DISASM_PLUGIN}).available());
    EXPECT_THROW(DisasmLibrary::none().decode(std::vector<uint8_t>{0x90}, 0), std::logic_error);
}

// A name the loader resolves itself would be found in the current folder: started as root from a
// folder someone else controls, the program would run that folder's code.
TEST(DisasmLibrary, LoadsOnlyByAbsolutePathsFromWhereTheProgramLies) {
    namespace fs = std::filesystem;
    const fs::path bin = fs::path(TW_DISASM_PLUGIN).parent_path(); // the tests live beside the plugin
    EXPECT_EQ(DisasmLibrary::searchPaths(),
              (std::vector<std::string>{TW_DISASM_PLUGIN,
                                        (bin.parent_path() / "lib/tarnwick/libDisasm.so").string()}));
    const fs::path before = fs::current_path();
    fs::current_path(bin);
    const DisasmLibrary relative = DisasmLibrary::loadFrom({"./libDisasm.so"});
    fs::current_path(before);
    EXPECT_FALSE(relative.available());
    EXPECT_EQ(relative.notLoadedMessage(),
              "Could not load libDisasm.so (looked for ./libDisasm.so: not an absolute path).");
}

TEST(DisasmLibrary, ListingSurvivesALibraryThatBreaksTheContract) {
    const DisasmLibrary fake = DisasmLibrary::loadFrom({TW_FAKE_DISASM});
    platform::testkit::MemoryStream stream(std::vector<uint8_t>{0, 1, 2, 3, 4});
    ScriptedUi ui;
    std::vector<disasm::Row> rows;
    disasm::makeListing(stream, fake, 5, ui, ui, [&](disasm::Row&& r) { rows.push_back(r); });
    ASSERT_EQ(rows.size(), 5u); // lengths 0 and -5 still move on by one byte
    EXPECT_EQ(rows[0].fields, (Fields{"00000000", "00", "ZERO"}));
    EXPECT_EQ(rows[1].fields, (Fields{"00000001", "01", "NEGATIVE"}));
    EXPECT_EQ(rows[2].fields.disassembly, std::string(1024, 'A')); // 5000 claimed, 1024 taken
    EXPECT_EQ(rows[3].fields, (Fields{"", "", "JUST TEXT"}));
    EXPECT_EQ(rows[4].offset, 4);
}
