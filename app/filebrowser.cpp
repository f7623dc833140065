#include "app/filebrowser.h"

#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

namespace filebrowser {
namespace fs = std::filesystem;

namespace {

bool isLetterRoot(const std::string& s) {
    return (s.size() == 2 || (s.size() == 3 && (s[2] == '\\' || s[2] == '/'))) &&
           std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':';
}

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

TSearchRec searchRec(const fs::directory_entry& entry) {
    TSearchRec rec;
    rec.Name = entry.path().filename().string();
    std::error_code ec;
    // Links are followed, as the system's listing describes what they lead to.
    const fs::file_status status = entry.status(ec);
    const fs::file_type type = ec ? fs::file_type::not_found : status.type();
    if (type == fs::file_type::directory) {
        rec.Attr |= faDirectory;
    } else if (type == fs::file_type::regular) {
        rec.Attr |= faArchive;
        const auto size = entry.file_size(ec);
        rec.Size = ec ? 0 : int64_t(size);
    } else if (type == fs::file_type::fifo || type == fs::file_type::socket) {
        rec.Attr |= faSysFile;
        rec.special = true;
    } else if (type == fs::file_type::block || type == fs::file_type::character) {
        rec.Attr |= faSysFile;
    }
    if (!ec && (status.permissions() & fs::perms::owner_write) == fs::perms::none) rec.Attr |= faReadOnly;
    if (!rec.Name.empty() && rec.Name[0] == '.') rec.Attr |= faHidden;
    const auto written = entry.last_write_time(ec);
    if (!ec) {
        const auto sys = std::chrono::file_clock::to_sys(written);
        rec.Time = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
    }
    return rec;
}

} // namespace

std::string resolveRoot(platform::Backend& backend, const std::string& root) {
    if (isLetterRoot(root)) {
        const std::string folder =
            backend.volumeRoot(char(std::toupper(static_cast<unsigned char>(root[0]))));
        if (folder.empty()) return root;
        return withSlash(folder);
    }
    return withSlash(root);
}

TFileData rootData(const std::string& rootPath) {
    TFileData data;
    data.Path = rootPath;
    data.Rec.Name = rootPath;
    data.Rec.Attr = kRootAttributes;
    return data;
}

std::vector<TFileData> listFolder(const TFileData& folder) {
    std::vector<TFileData> entries;
    std::error_code ec;
    fs::directory_iterator it(folder.Path, ec), end;
    // An unreadable folder, or one that went away, simply has nothing to show.
    for (; !ec && it != end; it.increment(ec)) {
        TFileData data;
        data.Rec = searchRec(*it);
        data.Path = folder.Path + data.Rec.Name;
        if (data.isFolder()) data.Path += '/';
        entries.push_back(std::move(data));
    }
    // The listing comes in the file system's own order (hash order on most Linux file systems);
    // name order is what people look for in a tree.
    std::sort(entries.begin(), entries.end(),
              [](const TFileData& a, const TFileData& b) { return a.Rec.Name < b.Rec.Name; });
    return entries;
}

TFileInfo fileInfoFor(const TFileData& node, const std::string& nodeText) {
    TFileInfo info;
    info.FileName = node.Path;
    info.Description = node.Path;
    info.DefaultName = nodeText;
    info.DefaultExt = node.isFolder() ? std::string() : fs::path(node.Path).extension().string();
    info.Size = node.Rec.Size;
    info.Offset = 0;
    info.DisplayText = "File: " + nodeText;
    info.BaseOffset = 0;
    info.BaseSize = info.Size;
    // A FIFO or socket has no bytes to read: opening one would wait for a writer that never comes.
    info.CanRead = !node.isFolder() && !node.Rec.special;
    info.CanWrite = false;
    info.DriveText = nodeText;
    return info;
}

} // namespace filebrowser
