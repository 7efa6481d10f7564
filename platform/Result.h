#pragma once
// Error values and a small result type. Failures cross component boundaries as values, never as
// exceptions: an operation that may fail returns Result<T> (or Status for no value).
#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quorvel {

struct Error {
    std::string domain;  // "Quorvel" for the system's own errors, "sndfile", "rtaudio", "mpd", "posix", …
    long code = 0;       // domain-specific code
    std::string description;  // user-readable text, shown as it stands
    // Developer detail for a failure report (the server's raw reply, say); empty when there is none.
    std::string debugDescription{};

    bool operator==(const Error&) const = default;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : data_(std::move(value)) {}
    Result(Error error) : data_(std::move(error)) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(data_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(data_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(data_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(data_);
    }

private:
    std::variant<T, Error> data_;
};

// Success or an error, for operations with no value.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)) {}
    static Status success() { return {}; }

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        assert(!ok());
        return *error_;
    }

private:
    std::optional<Error> error_;
};

}  // namespace quorvel
