#pragma once
// Text crosses into Windows as UTF-16 and comes back as UTF-8: everything above the platform
// layer keeps UTF-8, and the ANSI calls would turn a name outside the ANSI code page into "?".

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace platform::windows {

inline std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

inline std::string utf8(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::string utf8(const std::wstring& text) {
    return utf8(text.data(), text.size());
}

} // namespace platform::windows
