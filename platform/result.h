#pragma once
// Results of the platform layer: a value or an operating-system error (code and its text).
// Nothing here throws; engines turn errors into the messages the user sees.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace platform {

struct Error {
    int code = 0;     // errno on Linux, GetLastError() on Windows
    std::string text; // the system's own description of the code
};

// Builds an Error from an errno value (strerror text).
Error errnoError(int code);

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() {
        assert(ok());
        return std::get<0>(v_);
    }
    const T& value() const {
        assert(ok());
        return std::get<0>(v_);
    }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(v_);
    }
    T valueOr(T fallback) const { return ok() ? std::get<0>(v_) : fallback; }

private:
    std::variant<T, Error> v_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : failed_(true), error_(std::move(error)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        assert(failed_);
        return error_;
    }

private:
    bool failed_ = false;
    Error error_;
};

} // namespace platform
