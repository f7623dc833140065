#pragma once
// What the disassembler's tests share: the library built beside them, and readable fields.

#include "inspect/disasm_library.h"

#include <ostream>

inline const disasm::DisasmLibrary& plugin() {
    static const disasm::DisasmLibrary library = disasm::DisasmLibrary::loadFrom({TW_DISASM_PLUGIN});
    return library;
}

namespace disasm {
inline std::ostream& operator<<(std::ostream& out, const Fields& f) {
    return out << '"' << f.address << "\" \"" << f.prefix << "\" \"" << f.disassembly << '"';
}
} // namespace disasm
