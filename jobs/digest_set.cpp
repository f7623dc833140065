#include "jobs/digest_set.h"

#include "jobs/side_thread.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace digest {

struct Set::Running {
    Context::Kind kind;
    Context context;
    std::string error; // why the digest failed, once it did
    // Every digest but the first runs on a thread of its own, over the same buffer.
    std::unique_ptr<jobs::detail::SideThread> side;

    explicit Running(Context::Kind k) : kind(k), context(k) {}
    void add(const char* data, int64_t size) noexcept {
        if (!error.empty()) return;
        try {
            context.add(data, size_t(size));
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
};

Set::Set(std::vector<Context::Kind> kinds) {
    for (const auto kind : kinds) {
        auto r = std::make_unique<Running>(kind);
        if (!running_.empty()) {
            Running* self = r.get();
            r->side = std::make_unique<jobs::detail::SideThread>(
                [self](const char* d, int64_t n) { self->add(d, n); });
        }
        running_.push_back(std::move(r));
    }
}

Set::~Set() = default;

std::vector<Context::Kind> Set::parse(const std::string& list) {
    std::vector<Context::Kind> kinds;
    size_t pos = 0;
    while (pos <= list.size()) {
        const size_t comma = std::min(list.find(',', pos), list.size());
        std::string word = list.substr(pos, comma - pos);
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        Context::Kind kind;
        if (word == "md5")
            kind = Context::Kind::Md5;
        else if (word == "sha1")
            kind = Context::Kind::Sha1;
        else if (word == "sha256")
            kind = Context::Kind::Sha256;
        else
            throw std::invalid_argument(word.empty() ? "--hash needs a list such as md5,sha1,sha256"
                                                     : "--hash: '" + word + "' is not md5, sha1 or sha256");
        if (std::find(kinds.begin(), kinds.end(), kind) != kinds.end())
            throw std::invalid_argument("--hash names " + word + " twice");
        kinds.push_back(kind);
        pos = comma + 1;
    }
    return kinds;
}

const char* Set::name(Context::Kind kind) {
    switch (kind) {
    case Context::Kind::Md5:
        return "MD5";
    case Context::Kind::Sha1:
        return "SHA1";
    case Context::Kind::Sha256:
        return "SHA256";
    }
    return "";
}

void Set::add(const uint8_t* data, int64_t size) noexcept {
    if (size <= 0 || running_.empty() || finished_) return;
    const auto* bytes = reinterpret_cast<const char*>(data);
    for (size_t i = 1; i < running_.size(); ++i)
        running_[i]->side->post(bytes, size);
    running_[0]->add(bytes, size);
    for (size_t i = 1; i < running_.size(); ++i) {
        try {
            running_[i]->side->wait(); // the work itself catches what it throws
        } catch (...) {
        }
    }
    bytes_ += size;
}

std::string Set::summary() {
    if (finished_) return summary_;
    finished_ = true;
    for (auto& r : running_) {
        r->side.reset();
        std::string value;
        if (r->error.empty()) {
            try {
                value = r->context.finish();
            } catch (const std::exception& e) {
                r->error = e.what();
            }
        }
        summary_ += std::string(name(r->kind)) + " " +
                    (r->error.empty() ? value : "(not computed: " + r->error + ")") + "\n";
    }
    if (!summary_.empty()) summary_.pop_back();
    return summary_;
}

std::optional<Set> fromHashOption(const cli::CommandLine& args) {
    if (!args.has("--hash")) return std::nullopt;
    try {
        return std::optional<Set>(std::in_place, Set::parse(args.text("--hash")));
    } catch (const std::invalid_argument& e) {
        throw cli::UsageError(e.what(), args.command);
    }
}

} // namespace digest
