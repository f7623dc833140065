// The disassembler library: one x86 instruction per call, in Intel syntax with upper-case names
// and hexadecimal numbers written as digits followed by "h" ("JMP 7C1Eh", "MOV AX, 0BEEFh").
// Decoding and most of the formatting are Zydis's; this file sets its style and fills the gaps.

#include "plugins/disasm/disasm_abi.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#if defined(_WIN32)
#define TW_DISASM_EXPORT __declspec(dllexport)
#else
#define TW_DISASM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool isWordChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// A direct far pointer as real-mode code writes it, segment:offset ("JMP FAR 0000:061E"): the pair
// is not a byte offset of the device, so it carries no "h" that would invite following it.
ZyanStatus formatFarPointer(const ZydisFormatter*, ZydisFormatterBuffer* buffer,
                            ZydisFormatterContext* context) {
    ZYAN_CHECK(ZydisFormatterBufferAppend(buffer, ZYDIS_TOKEN_IMMEDIATE));
    ZyanString* string = nullptr;
    ZYAN_CHECK(ZydisFormatterBufferGetString(buffer, &string));
    const int offsetDigits = context->instruction->operand_width == 16 ? 4 : 8;
    char text[24];
    std::snprintf(text, sizeof text, "%04X:%0*X", unsigned(context->operand->ptr.segment), offsetDigits,
                  unsigned(context->operand->ptr.offset));
    ZyanStringView view;
    ZYAN_CHECK(ZyanStringViewInsideBuffer(&view, text));
    return ZyanStringAppend(string, &view);
}

// Appends "<hex>h" to the formatter's text; normalise() adds the leading 0 where one is due.
ZyanStatus appendHex(ZydisFormatterBuffer* buffer, ZydisTokenType token, uint64_t value) {
    ZYAN_CHECK(ZydisFormatterBufferAppend(buffer, token));
    ZyanString* string = nullptr;
    ZYAN_CHECK(ZydisFormatterBufferGetString(buffer, &string));
    char text[24];
    std::snprintf(text, sizeof text, "%llXh", static_cast<unsigned long long>(value));
    ZyanStringView view;
    ZYAN_CHECK(ZyanStringViewInsideBuffer(&view, text));
    return ZyanStringAppend(string, &view);
}

// Branch targets and RIP-relative operands in the listing's own 32-bit addresses. Zydis would cut
// a 16-bit branch at 64 KiB, so that "JMP 3Eh" in a boot sector at 1 MiB led back to the first
// sector of the disk.
ZyanStatus printAbsoluteAddress(const ZydisFormatter*, ZydisFormatterBuffer* buffer,
                                ZydisFormatterContext* context) {
    const ZydisDecodedOperand& operand = *context->operand;
    const uint64_t next = context->runtime_address + context->instruction->length;
    uint64_t address = 0;
    if (operand.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && operand.imm.is_relative) {
        address = uint32_t(next + uint64_t(operand.imm.value.s));
        // An operand-size override makes 32-bit code branch to a 16-bit IP: the CPU drops the
        // upper half of the target. (Real-mode code is not cut: its addresses are device offsets.)
        if (context->instruction->operand_width == 16 &&
            context->instruction->machine_mode == ZYDIS_MACHINE_MODE_LEGACY_32)
            address &= 0xFFFF;
    } else if (operand.type == ZYDIS_OPERAND_TYPE_MEMORY &&
               (operand.mem.base == ZYDIS_REGISTER_RIP || operand.mem.base == ZYDIS_REGISTER_EIP))
        address = uint32_t(next + uint64_t(operand.mem.disp.value));
    else
        ZYAN_CHECK(
            ZydisCalcAbsoluteAddress(context->instruction, &operand, context->runtime_address, &address));
    return appendHex(buffer, ZYDIS_TOKEN_ADDRESS_ABS, address);
}

// What Zydis's text leaves out although a prefix changed it, for the mnemonic hook and the line.
struct Spelling {
    char mnemonic[12] = {};   // in place of Zydis's own (and its " FAR")
    const char* suffix = "";  // the operand size of a stack operation whose operands do not show it
    const char* counter = ""; // LOOP's counter register when an address-size override chose it
};

ZydisFormatterFunc zydisPrintMnemonic = nullptr;

ZyanStatus printMnemonic(const ZydisFormatter* formatter, ZydisFormatterBuffer* buffer,
                         ZydisFormatterContext* context) {
    const auto* spelling = static_cast<const Spelling*>(context->user_data);
    if (!spelling || !spelling->mnemonic[0]) {
        ZYAN_CHECK(zydisPrintMnemonic(formatter, buffer, context));
        if (!spelling || !spelling->suffix[0]) return ZYAN_STATUS_SUCCESS;
    } else {
        ZYAN_CHECK(ZydisFormatterBufferAppend(buffer, ZYDIS_TOKEN_MNEMONIC));
    }
    ZyanString* string = nullptr;
    ZYAN_CHECK(ZydisFormatterBufferGetString(buffer, &string));
    ZyanStringView view;
    if (spelling->mnemonic[0]) {
        ZYAN_CHECK(ZyanStringViewInsideBuffer(&view, spelling->mnemonic));
        ZYAN_CHECK(ZyanStringAppend(string, &view));
    }
    ZYAN_CHECK(ZyanStringViewInsideBuffer(&view, spelling->suffix));
    return ZyanStringAppend(string, &view);
}

struct Engine {
    ZydisDecoder real16{};
    ZydisDecoder protected16{};
    ZydisDecoder protected32{};
    ZydisDecoder long64{};
    ZydisFormatter formatter{};
    bool ready = false;

    Engine() {
        ready = ZYAN_SUCCESS(ZydisDecoderInit(&real16, ZYDIS_MACHINE_MODE_REAL_16, ZYDIS_STACK_WIDTH_16)) &&
                ZYAN_SUCCESS(
                    ZydisDecoderInit(&protected16, ZYDIS_MACHINE_MODE_LEGACY_16, ZYDIS_STACK_WIDTH_16)) &&
                ZYAN_SUCCESS(
                    ZydisDecoderInit(&protected32, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32)) &&
                ZYAN_SUCCESS(ZydisDecoderInit(&long64, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64)) &&
                ZYAN_SUCCESS(ZydisFormatterInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL)) && style();
    }

    bool style() {
        auto set = [this](ZydisFormatterProperty p, ZyanUPointer v) {
            return ZYAN_SUCCESS(ZydisFormatterSetProperty(&formatter, p, v));
        };
        const void* farPointer = reinterpret_cast<const void*>(&formatFarPointer);
        const void* absoluteAddress = reinterpret_cast<const void*>(&printAbsoluteAddress);
        const void* mnemonic = reinterpret_cast<const void*>(&printMnemonic);
        // The leading 0 of a number such as 0BEEFh and upper-case type casts are set by
        // normalise(): Zydis 4.0 declares both properties but does not honour them. Memory
        // operands always show their size: left to itself Zydis 4.0 writes "INC [BX+SI]" for the
        // byte and the word alike.
        const bool styled =
            set(ZYDIS_FORMATTER_PROP_FORCE_SIZE, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_UPPERCASE_MNEMONIC, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_UPPERCASE_REGISTERS, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_UPPERCASE_PREFIXES, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_UPPERCASE_DECORATORS, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_FORCE_SCALE_ONE, ZYAN_FALSE) &&
            set(ZYDIS_FORMATTER_PROP_HEX_UPPERCASE, ZYAN_TRUE) &&
            set(ZYDIS_FORMATTER_PROP_HEX_PREFIX, ZyanUPointer(0)) &&
            set(ZYDIS_FORMATTER_PROP_HEX_SUFFIX, ZyanUPointer("h")) &&
            set(ZYDIS_FORMATTER_PROP_IMM_PADDING, ZYDIS_PADDING_DISABLED) &&
            set(ZYDIS_FORMATTER_PROP_DISP_PADDING, ZYDIS_PADDING_DISABLED) &&
            set(ZYDIS_FORMATTER_PROP_ADDR_PADDING_ABSOLUTE, ZYDIS_PADDING_DISABLED) &&
            ZYAN_SUCCESS(
                ZydisFormatterSetHook(&formatter, ZYDIS_FORMATTER_FUNC_FORMAT_OPERAND_PTR, &farPointer)) &&
            ZYAN_SUCCESS(ZydisFormatterSetHook(&formatter, ZYDIS_FORMATTER_FUNC_PRINT_ADDRESS_ABS,
                                               &absoluteAddress)) &&
            ZYAN_SUCCESS(ZydisFormatterSetHook(&formatter, ZYDIS_FORMATTER_FUNC_PRINT_MNEMONIC, &mnemonic));
        // The hook left Zydis's own function in its place: the mnemonic hook calls it.
        zydisPrintMnemonic = reinterpret_cast<ZydisFormatterFunc>(const_cast<void*>(mnemonic));
        return styled && zydisPrintMnemonic;
    }

    // SYSENTER and SYSEXIT fault in real mode (#GP) but are instructions there, which Zydis's
    // real-mode tables leave out. Zydis 4.0 decodes the mask instructions of the Knights Corner
    // coprocessor whether or not it is told to; no processor that runs this code has them.
    bool decode(int32_t mode, const uint8_t* code, ZydisDecodedInstruction& instruction,
                ZydisDecodedOperand* operands) const {
        const ZydisDecoder* d = decoder(mode);
        if (!d) return false;
        if (ZYAN_SUCCESS(ZydisDecoderDecodeFull(d, code, kDisasmMaxInstructionBytes, &instruction, operands)))
            return instruction.meta.isa_ext != ZYDIS_ISA_EXT_KNC &&
                   instruction.meta.isa_ext != ZYDIS_ISA_EXT_KNCE &&
                   instruction.meta.isa_ext != ZYDIS_ISA_EXT_KNCV;
        return mode == kDisasmModeReal16 &&
               ZYAN_SUCCESS(ZydisDecoderDecodeFull(&protected16, code, kDisasmMaxInstructionBytes,
                                                   &instruction, operands)) &&
               (instruction.mnemonic == ZYDIS_MNEMONIC_SYSENTER ||
                instruction.mnemonic == ZYDIS_MNEMONIC_SYSEXIT);
    }

    const ZydisDecoder* decoder(int32_t mode) const {
        switch (mode) {
        case kDisasmModeReal16:
            return &real16;
        case kDisasmModeProtected32:
            return &protected32;
        case kDisasmModeLong64:
            return &long64;
        default:
            return nullptr;
        }
    }
};

const Engine& engine() {
    static const Engine e; // built once, then only read: calls may come from any thread
    return e;
}

// Appends to a fixed buffer, dropping what does not fit; the buffer always holds a terminated text.
class Line {
public:
    Line(char* text, size_t capacity) : text_(text), capacity_(capacity) { text_[0] = '\0'; }
    void put(char c) {
        if (size_ + 1 >= capacity_) return;
        text_[size_++] = c;
        text_[size_] = '\0';
    }
    void put(std::string_view s) {
        for (char c : s)
            put(c);
    }
    void hex(uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            put(kHexDigits[(value >> (4 * i)) & 0xF]);
    }
    int32_t size() const { return int32_t(size_); }

private:
    char* text_;
    size_t capacity_;
    size_t size_ = 0;
};

// Zydis's text in the house style: a number that starts with a letter gets a leading 0 (so that it
// cannot be read as a name), and what is still lower case (the type casts, "byte ptr") becomes
// upper case. The only lower-case letter left is the "h" that ends a number.
void normalise(std::string_view in, Line& out) {
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        const bool wordStart = i == 0 || !isWordChar(in[i - 1]);
        if (wordStart && c >= 'A' && c <= 'F') {
            size_t end = i;
            while (end < in.size() && isUpperHex(in[end]))
                ++end;
            if (end < in.size() && in[end] == 'h' && (end + 1 == in.size() || !isWordChar(in[end + 1])))
                out.put('0');
        }
        if (c >= 'a' && c <= 'z' && !(c == 'h' && i > 0 && isUpperHex(in[i - 1])))
            out.put(char(c - 'a' + 'A'));
        else
            out.put(c);
    }
}

const char* sizeSuffix(ZyanU8 width) {
    return width == 16 ? "W" : width == 32 ? "D" : "Q";
}

// Spells out what a prefix changed where Zydis's text would not show it. A string instruction
// or XLAT that reads through another segment or another address size lists its operands
// ("LODS AL, BYTE PTR ES:[SI]"); LOOP on the other counter names it ("LOOP 24h, ECX"); a stack
// operation of another size than the code's own takes its size as a suffix ("RETFD", "PUSHD ES").
// Makes the chosen implicit operands visible in `operands` and returns how many to print.
ZyanU8 spell(ZydisDecodedInstruction& instruction, ZydisDecodedOperand* operands, Spelling& spelling) {
    const ZyanU8 addressWidth = instruction.machine_mode == ZYDIS_MACHINE_MODE_LONG_64     ? 64
                                : instruction.machine_mode == ZYDIS_MACHINE_MODE_LEGACY_32 ? 32
                                                                                           : 16;
    const ZyanU8 stackWidth = instruction.stack_width;
    const ZydisDecodedOperand& first = operands[0];
    const bool firstShowsNoSize = instruction.operand_count_visible == 1 &&
                                  ((first.type == ZYDIS_OPERAND_TYPE_REGISTER &&
                                    ZydisRegisterGetClass(first.reg.value) == ZYDIS_REGCLASS_SEGMENT) ||
                                   first.type == ZYDIS_OPERAND_TYPE_IMMEDIATE);

    switch (instruction.mnemonic) {
    case ZYDIS_MNEMONIC_LOOP:
    case ZYDIS_MNEMONIC_LOOPE:
    case ZYDIS_MNEMONIC_LOOPNE:
        if (instruction.address_width != addressWidth)
            spelling.counter = instruction.address_width == 16   ? ", CX"
                               : instruction.address_width == 32 ? ", ECX"
                                                                 : ", RCX";
        break;
    case ZYDIS_MNEMONIC_RET:
        if (instruction.meta.branch_type == ZYDIS_BRANCH_TYPE_FAR) {
            std::strcpy(spelling.mnemonic, "RETF");
            // Far returns pop a 32-bit offset in 64-bit code unless REX.W says otherwise.
            if (instruction.operand_width != (addressWidth == 16 ? 16 : 32))
                spelling.suffix = sizeSuffix(instruction.operand_width);
        } else if (instruction.operand_width != stackWidth) {
            spelling.suffix = sizeSuffix(instruction.operand_width);
        }
        break;
    case ZYDIS_MNEMONIC_CALL:
        if (first.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && first.imm.is_relative &&
            instruction.operand_width != stackWidth)
            spelling.suffix = sizeSuffix(instruction.operand_width);
        break;
    case ZYDIS_MNEMONIC_PUSH:
    case ZYDIS_MNEMONIC_POP:
        if (firstShowsNoSize && instruction.operand_width != stackWidth)
            spelling.suffix = sizeSuffix(instruction.operand_width);
        break;
    case ZYDIS_MNEMONIC_LEAVE:
    case ZYDIS_MNEMONIC_ENTER:
        if (instruction.operand_width != stackWidth) spelling.suffix = sizeSuffix(instruction.operand_width);
        break;
    default:
        break;
    }

    const bool xlat = instruction.mnemonic == ZYDIS_MNEMONIC_XLAT;
    if (!xlat && instruction.meta.category != ZYDIS_CATEGORY_STRINGOP &&
        instruction.meta.category != ZYDIS_CATEGORY_IOSTRINGOP)
        return instruction.operand_count_visible;
    // The operand read through DS (its segment can be overridden) is the one not based on DI.
    bool changed = instruction.address_width != addressWidth;
    for (ZyanU8 i = 0; i < instruction.operand_count; ++i) {
        const ZydisDecodedOperand& o = operands[i];
        const bool destination = o.mem.base == ZYDIS_REGISTER_DI || o.mem.base == ZYDIS_REGISTER_EDI ||
                                 o.mem.base == ZYDIS_REGISTER_RDI;
        changed |= o.type == ZYDIS_OPERAND_TYPE_MEMORY && !destination && o.mem.segment != ZYDIS_REGISTER_DS;
    }
    if (!changed) return instruction.operand_count_visible;
    // Zydis lists the implicit operands in Intel's order: LODS AL, m; MOVS m, m; OUTS DX, m; XLAT m.
    const ZyanU8 shown = xlat ? 1 : 2;
    for (ZyanU8 i = 0; i < shown; ++i)
        operands[i].visibility = ZYDIS_OPERAND_VISIBILITY_EXPLICIT;
    instruction.operand_count_visible = shown;
    const char* name = ZydisMnemonicGetString(instruction.mnemonic);
    size_t n = std::strlen(name) - (xlat ? 0 : 1); // LODSB -> LODS
    n = std::min(n, sizeof spelling.mnemonic - 1);
    for (size_t i = 0; i < n; ++i)
        spelling.mnemonic[i] = char(std::toupper(static_cast<unsigned char>(name[i])));
    return shown;
}

int32_t finish(void* record, int32_t length, const Line& line) {
    if (record)
        std::memcpy(static_cast<uint8_t*>(record) + kDisasmRecordLengthOffset, &length, sizeof length);
    return line.size();
}

} // namespace

extern "C" TW_DISASM_EXPORT int32_t DisAssemble(const uint8_t* code, uint32_t address, char* text,
                                                void* record, int32_t mode) {
    if (!text) return 0;
    Line line(text, kDisasmTextCapacity);
    const Engine& e = engine();
    if (!code || !e.decoder(mode) || !e.ready) return finish(record, 0, line);

    line.hex(address, 8);
    line.put('\t');

    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    char formatted[256];
    Spelling spelling;
    const bool decoded = e.decode(mode, code, instruction, operands) &&
                         ZYAN_SUCCESS(ZydisFormatterFormatInstruction(
                             &e.formatter, &instruction, operands, spell(instruction, operands, spelling),
                             formatted, sizeof formatted, address, &spelling));
    if (!decoded) {
        // Bytes that are no instruction (or start one longer than 15 bytes) are shown one at a time.
        line.hex(code[0], 2);
        line.put("\tDB ");
        if (code[0] >= 0xA0) line.put('0');
        line.hex(code[0], 2);
        line.put('h');
        return finish(record, 1, line);
    }
    for (uint8_t i = 0; i < instruction.length; ++i)
        line.hex(code[i], 2);
    line.put('\t');
    normalise(std::string_view(formatted, std::strlen(formatted)), line);
    line.put(spelling.counter);
    return finish(record, instruction.length, line);
}
