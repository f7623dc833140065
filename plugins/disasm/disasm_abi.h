#pragma once
// The disassembler library's one export, as the program and the library both see it. C only, so
// that a library built with another compiler (or in another language) can serve the program.
//
//   int32_t DisAssemble(const uint8_t* code, uint32_t address, char* text, void* record, int32_t mode)
//
// code     the instruction's first byte; the library reads at most kMaxInstructionBytes from here,
//          and the caller makes sure that many are readable (it appends kCodePadding zero bytes)
// address  where the instruction lies (branch targets are shown as absolute addresses from it)
// text     kTextCapacity characters: "ADDRESS\tBYTES\tINSTRUCTION", NUL-terminated
// record   kRecordSize bytes; the library stores the instruction's length in bytes as an int32 at
//          kRecordLengthOffset and leaves the other bytes alone
// mode     kModeReal16 (boot code), kModeProtected32 or kModeLong64
// returns  the number of characters of text (without the NUL), never more than kTextCapacity - 1

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TW_DISASM_EXPORT_NAME "DisAssemble"

enum {
    kDisasmMaxInstructionBytes = 15, // the longest x86 instruction
    kDisasmCodePadding = 16,         // zero bytes a caller appends to its code
    kDisasmTextCapacity = 1024,
    kDisasmRecordSize = 92,
    kDisasmRecordLengthOffset = 88,
    kDisasmModeProtected32 = 1,
    kDisasmModeLong64 = 2,
    kDisasmModeReal16 = 3,
};

typedef int32_t (*DisAssembleFn)(const uint8_t* code, uint32_t address, char* text, void* record,
                                 int32_t mode);

#ifdef __cplusplus
}
#endif
