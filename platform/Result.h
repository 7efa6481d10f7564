#pragma once
// Error values and a small result type. Failures cross component boundaries as values, never as
// exceptions: an operation that may fail returns Result<T> (or Status for no value).
#include <cassert>
#include <optional>
#include <string>
#include <string_view>
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

// At most this many characters of a value are quoted in an error's description, then "…": a value read
// from a file may be as long as the file.
inline constexpr std::size_t quotedLength = 60;

// `text` cut after quotedLength characters and ended with "…"; whole when it is no longer. Characters are
// counted in UTF-8 and never split.
inline std::string shortForMessage(std::string_view text) {
    std::size_t characters = 0;
    for (std::size_t at = 0; at < text.size(); ++at)
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && characters++ == quotedLength)
            return std::string(text.substr(0, at)) + "\u2026";
    return std::string(text);
}

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
