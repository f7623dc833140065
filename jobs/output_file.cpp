#include "jobs/output_file.h"

#include <cerrno>

namespace jobs {
namespace {

using platform::Error;
using platform::NameKind;

Error refusal(int code, const std::string& text) {
    return Error{code, text};
}

// What the name stands for; the drive and volume names count as devices wherever they lead.
platform::Result<platform::NameInfo> lookAt(platform::Backend& backend, const std::string& path) {
    if (path.empty()) return platform::errnoError(ENOENT);
    if (platform::parsePhysicalDriveName(path) || platform::parseVolumeName(path))
        return platform::NameInfo{NameKind::Device, "device:" + path};
    return backend.nameInfo(path);
}

// The refusal for what stands at the name, or nothing when the policy lets it be written.
std::optional<Error> refusalFor(const platform::NameInfo& info, Existing existing) {
    switch (info.kind) {
    case NameKind::Missing:
        if (existing == Existing::Append || existing == Existing::Update) return platform::errnoError(ENOENT);
        return std::nullopt;
    case NameKind::File:
        if (existing == Existing::Refuse) return platform::errnoError(EEXIST);
        return std::nullopt;
    case NameKind::Link:
        if (existing == Existing::Refuse) return platform::errnoError(EEXIST);
        // Appending would change what the link points to, which nobody named.
        if (existing == Existing::Append || existing == Existing::Update)
            return refusal(ELOOP, "Is a symbolic link; what it points to is not written through it");
        return std::nullopt;
    case NameKind::Folder:
        return platform::errnoError(EISDIR);
    case NameKind::Device:
        return refusal(ENODEV, "Is a device, not a file; devices are written only behind the overwrite gate");
    case NameKind::Pipe:
        return refusal(ENXIO, "Is a named pipe, not a file");
    case NameKind::Socket:
        return refusal(ENXIO, "Is a socket, not a file");
    case NameKind::Other:
        break;
    }
    return refusal(ENXIO, "Is not a regular file");
}

// A hold that failed: the earlier file is in use, and is neither replaced nor appended to.
Error inUse(const Error& e) {
    if (e.code == EWOULDBLOCK || e.code == EAGAIN) return refusal(e.code, "Is in use by another program");
    if (e.code == EBUSY)
        return refusal(e.code, "Is in use: a loop device that presents it is mounted or held open");
    if (e.code == ELOOP) return refusal(e.code, "Was replaced by a symbolic link");
    return e;
}

} // namespace

std::optional<std::string> outputRefusal(platform::Backend& backend, const std::string& path,
                                         Existing existing) {
    const auto info = lookAt(backend, path);
    if (!info) return info.error().text;
    if (auto r = refusalFor(*info, existing)) return r->text;
    return std::nullopt;
}

bool outputNameTaken(platform::Backend& backend, const std::string& path) {
    const auto info = lookAt(backend, path);
    return !info || info->kind != NameKind::Missing;
}

std::optional<std::string> writeWholeFile(platform::Backend& backend, const std::string& path,
                                          const void* data, size_t size, Existing existing) {
    auto file = OutputFile::create(backend, path, existing);
    if (!file) return file.error().text;
    const auto put = (*file)->stream().write(data, int64_t(size));
    if (!put) return put.error().text;
    if (*put != int64_t(size)) return platform::errnoError(ENOSPC).text;
    if (auto done = (*file)->commit(); !done) return done.error().text;
    return std::nullopt;
}

platform::Result<std::unique_ptr<OutputFile>> OutputFile::create(platform::Backend& backend,
                                                                 const std::string& path, Existing existing) {
    const auto before = lookAt(backend, path);
    if (!before) return before.error();
    if (auto r = refusalFor(*before, existing)) return *r;

    if (existing == Existing::Update) {
        // The open follows a link that took the name meanwhile: what it opened must be the entry
        // looked at, still at the name. A file's fingerprint is its identity, marked as a file.
        auto opened = backend.open(path, platform::OpenMode::ReadWrite);
        if (!opened) return inUse(opened.error());
        const auto now = lookAt(backend, path);
        if (!now || now->kind != NameKind::File || now->identity != before->identity ||
            (*opened)->fingerprint() != "file:" + before->identity)
            return refusal(EAGAIN, "Was changed by another program while it was opened");
        return std::unique_ptr<OutputFile>(new OutputFile(path, {}, std::move(*opened), nullptr));
    }

    std::unique_ptr<platform::RawStream> held;
    std::string replacing;
    if (before->kind == NameKind::File) {
        auto hold = backend.holdFile(path);
        if (!hold) return inUse(hold.error());
        held = std::move(*hold);
        // What is held must be what the name showed: it may have been swapped meanwhile.
        const auto now = lookAt(backend, path);
        if (!now || now->identity != before->identity)
            return refusal(EAGAIN, "Was changed by another program while it was opened");
        replacing = before->identity;
    } else if (before->kind == NameKind::Link) {
        replacing = before->identity;
    }

    auto pending = backend.createPending(path);
    if (!pending) return pending.error();
    if (existing == Existing::Append) {
        if (auto copied = (*pending)->copyFrom(*held); !copied) return copied.error();
    }
    return std::unique_ptr<OutputFile>(
        new OutputFile(path, std::move(replacing), std::move(held), std::move(*pending)));
}

OutputFile::OutputFile(std::string path, std::string replacing, std::unique_ptr<platform::RawStream> held,
                       std::unique_ptr<platform::PendingFile> pending)
    : path_(std::move(path)), replacing_(std::move(replacing)), held_(std::move(held)),
      pending_(std::move(pending)) {}

OutputFile::~OutputFile() {
    discard();
}

platform::Result<void> OutputFile::commit() {
    if (!pending_ && held_) {
        if (auto flushed = held_->flush(); !flushed) return flushed.error();
        committed_ = true;
        return {};
    }
    if (!pending_) return platform::errnoError(EBADF);
    if (auto flushed = pending_->stream().flush(); !flushed) return flushed.error();
    if (committed_) return {};
    // Let go of the earlier file first: some systems do not replace a file that is open.
    held_.reset();
    if (auto published = pending_->publish(replacing_); !published) {
        const Error& e = published.error();
        if (e.code == EEXIST && replacing_.empty())
            return refusal(
                e.code, "Another file took the name while the new one was written; the new one was not kept");
        if (e.code == EAGAIN || e.code == EEXIST)
            return refusal(e.code,
                           "It was changed by another program while the new one was written; it was kept and "
                           "the new one was not");
        return e;
    }
    committed_ = true;
    return {};
}

void OutputFile::discard() {
    pending_.reset();
    held_.reset();
}

} // namespace jobs
