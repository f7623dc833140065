// Libraries that break the disassembler's contract. With FAKE_NO_EXPORT the export is missing;
// otherwise the code's first byte picks the fault: 0 length 0, 1 length -5, 2 claims 5000
// characters after filling the whole buffer, 3 text without tabs, anything else a proper row.
#include <cstdint>
#include <cstdio>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))
#ifdef FAKE_NO_EXPORT
EXPORT int32_t Disassemble() {
    return 0;
}
#else
EXPORT int32_t DisAssemble(const uint8_t* code, uint32_t address, char* text, void* record, int32_t) {
    static const char* const names[] = {"ZERO", "NEGATIVE"};
    const int32_t length = code[0] == 0 ? 0 : code[0] == 1 ? -5 : 1;
    std::memcpy(static_cast<uint8_t*>(record) + 88, &length, sizeof length);
    if (code[0] == 2) return std::memset(text, 'A', 1024), 5000;
    if (code[0] == 3) return std::snprintf(text, 1024, "JUST TEXT");
    return std::snprintf(text, 1024, "%08X\t%02X\t%s", address, code[0],
                         code[0] < 2 ? names[code[0]] : "BYTE");
}
#endif
