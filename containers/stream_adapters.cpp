#include "containers/stream_adapters.h"

#include "jobs/side_file.h"

#include <filesystem>

namespace containers::detail {

ReplacingFile::ReplacingFile(std::string file) : file_(file), path_(std::move(file)) {}

std::unique_ptr<ReplacingFile> ReplacingFile::create(platform::Backend& backend, const std::string& file) {
    auto f = std::unique_ptr<ReplacingFile>(new ReplacingFile(file));
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) {
        // Held to the end: the earlier file is ours to replace (not locked by another program,
        // not the backing file of a device in use).
        auto old = backend.open(file, platform::OpenMode::Write);
        if (!old) return nullptr;
        f->old_ = std::move(*old);
        f->path_ = jobs::sideFileFor(file);
    }
    auto stream = backend.open(f->path_, platform::OpenMode::Create);
    if (!stream) return nullptr;
    f->stream_ = std::move(*stream);
    return f;
}

ReplacingFile::~ReplacingFile() {
    if (!committed_) discard();
}

bool ReplacingFile::commit(Dialogs& dialogs) {
    stream_.reset();
    committed_ = true;
    if (!old_) return true;
    old_.reset();
    std::error_code ec;
    std::filesystem::rename(path_, file_, ec);
    if (!ec) return true;
    dialogs.message("Failed to replace " + file_ + " with the new file, " + ec.message() +
                    ". The new file is " + path_ + ".");
    return false;
}

void ReplacingFile::discard() {
    if (committed_ && !stream_) return;
    stream_.reset();
    old_.reset();
    committed_ = true;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b) {
    const std::string ia = backend.objectIdentity(a);
    return !ia.empty() && ia == backend.objectIdentity(b);
}

std::string cannotOpenFile(const std::string& path, const std::string& systemText) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return "Cannot open file \"" + (ec ? path : full.string()) + "\". " + systemText;
}

} // namespace containers::detail
