#include "inspect/disasm_library.h"

#include "platform/library.h"

namespace disasm {

DisasmLibrary::DisasmLibrary() = default;
DisasmLibrary::DisasmLibrary(DisasmLibrary&&) noexcept = default;
DisasmLibrary& DisasmLibrary::operator=(DisasmLibrary&&) noexcept = default;
DisasmLibrary::~DisasmLibrary() = default;

DisasmLibrary DisasmLibrary::load() {
    DisasmLibrary lib;
    lib.library_ = platform::loadLibrary({platform::programFolder() + "/libDisasm.so", "libDisasm.so"});
    if (lib.library_) lib.entry_ = reinterpret_cast<DisAssembleFn>(lib.library_->symbol("DisAssemble"));
    return lib;
}

} // namespace disasm
