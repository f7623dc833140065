#pragma once
// Small helpers the tools' tests share.

#include "core/fileinfo.h"
#include "support/fixtures.h"
#ifdef _WIN32
#include "jobs/digest.h"
#endif

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace helpers {

inline TFileInfo selection(const std::string& file, int64_t offset, int64_t size,
                           const std::string& description = "D") {
    TFileInfo t;
    t.FileName = file;
    t.Description = description;
    t.Offset = offset;
    t.Size = size;
    t.CanRead = t.CanWrite = true;
    return t;
}

// What md5sum or sha1sum says of a file, in upper case. A Windows test cannot run them: there the
// system's own digest stands in, itself checked against the standards' vectors (digest_test).
inline std::string toolDigest(const std::string& tool, const std::string& path) {
#ifdef _WIN32
    using Kind = digest::Context::Kind;
    digest::Context context(tool == "md5sum" ? Kind::Md5 : tool == "sha1sum" ? Kind::Sha1 : Kind::Sha256);
    const auto bytes = fixtures::readFile(path);
    context.add(bytes.data(), bytes.size());
    return context.finish();
#endif
    std::string out;
    if (fixtures::shell(tool + " '" + path + "'", &out) != 0) return "(" + tool + " failed)";
    out = out.substr(0, out.find(' '));
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

// Bytes [offset, offset + size) of a file, written to another file (for the tools to read).
inline void copySlice(const std::string& from, int64_t offset, int64_t size, const std::string& to) {
    std::ifstream in(platform::pathFromUtf8(from), std::ios::binary);
    in.seekg(offset);
    std::vector<char> bytes(size_t(std::max<int64_t>(size, 0)));
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    std::ofstream(platform::pathFromUtf8(to), std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

} // namespace helpers
