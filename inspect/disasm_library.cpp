#include "inspect/disasm_library.h"

#include "platform/library.h"
#include "plugins/disasm/disasm_abi.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace disasm {

Fields splitFields(std::string_view text) {
    Fields f;
    auto take = [&text] {
        const size_t tab = text.find('\t');
        if (tab == std::string_view::npos) return std::string_view();
        const std::string_view field = text.substr(0, tab);
        text.remove_prefix(tab + 1);
        return field;
    };
    std::string_view address = take();
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!address.empty() && blank(address.front()))
        address.remove_prefix(1);
    while (!address.empty() && blank(address.back()))
        address.remove_suffix(1);
    f.address = address;
    f.prefix = take();
    f.disassembly = text;
    return f;
}

DisasmLibrary::DisasmLibrary() = default;
DisasmLibrary::DisasmLibrary(DisasmLibrary&&) noexcept = default;
DisasmLibrary& DisasmLibrary::operator=(DisasmLibrary&&) noexcept = default;
DisasmLibrary::~DisasmLibrary() = default;

const char* DisasmLibrary::fileName() {
#ifdef _WIN32
    return "Disasm.dll";
#else
    return "libDisasm.so";
#endif
}

std::vector<std::string> DisasmLibrary::searchPaths() {
    namespace fs = std::filesystem;
    const std::string folder = platform::programFolder();
    if (folder.empty()) return {};
    std::vector<std::string> paths{(fs::path(folder) / fileName()).string()};
#ifdef TARNWICK_PLUGIN_FROM_PROGRAM
    paths.push_back(
        (fs::path(folder) / TARNWICK_PLUGIN_FROM_PROGRAM / fileName()).lexically_normal().string());
#endif
    return paths;
}

DisasmLibrary DisasmLibrary::load() {
    return loadFrom(searchPaths());
}

DisasmLibrary DisasmLibrary::loadFrom(const std::vector<std::string>& candidates) {
    DisasmLibrary lib;
    std::vector<platform::LibraryFailure> failures;
    // One at a time: a library without the export is no reason to stop looking.
    for (const auto& path : candidates) {
        lib.library_ = platform::loadLibrary({path}, &failures);
        if (!lib.library_) continue;
        lib.entry_ = reinterpret_cast<Entry>(lib.library_->symbol(TW_DISASM_EXPORT_NAME));
        if (lib.entry_) break;
        // A library without the export is of no use; it is let go at once.
        lib.library_.reset();
        failures.push_back({path, std::string("it has no ") + TW_DISASM_EXPORT_NAME + " export"});
    }
    if (!lib.entry_)
        for (const auto& f : failures)
            lib.tried_.push_back(f.path + ": " + f.reason);
    return lib;
}

std::string DisasmLibrary::notLoadedMessage() const {
    std::string text = std::string("Could not load ") + fileName();
    if (tried_.empty()) return text + " (no folder to look in).";
    text += " (looked for ";
    for (size_t i = 0; i < tried_.size(); ++i)
        text += (i ? "; " : "") + tried_[i];
    return text + ").";
}

Decoded DisasmLibrary::decode(std::span<const uint8_t> code, uint32_t address, Mode mode) const {
    if (!entry_) throw std::logic_error("the disassembler library is not loaded");
    // The library reads up to 15 bytes whatever the instruction turns out to be.
    std::array<uint8_t, kDisasmCodePadding> padded{};
    const uint8_t* bytes = code.data();
    if (code.size() < padded.size()) {
        std::copy(code.begin(), code.end(), padded.begin());
        bytes = padded.data();
    }
    std::array<char, kDisasmTextCapacity> text{};
    alignas(8) std::array<uint8_t, kDisasmRecordSize> record{};
    const int32_t n = entry_(bytes, address, text.data(), record.data(), static_cast<int32_t>(mode));

    Decoded d;
    std::memcpy(&d.length, record.data() + kDisasmRecordLengthOffset, sizeof d.length);
    // Only what the buffer holds is taken, whatever count comes back.
    d.fields =
        splitFields(std::string_view(text.data(), size_t(std::clamp<int32_t>(n, 0, kDisasmTextCapacity))));
    return d;
}

} // namespace disasm
