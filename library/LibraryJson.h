#pragma once
// Reading and writing helpers shared by the playlist records' JSON coding (tracks here, playlists in the
// library).
#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace quorvel {

namespace LibraryJson {

// Written objects keep their keys in the order of the file format. Read objects look keys up in a
// sorted map: the ordered kind searches its keys one by one, which makes a large hostile object take
// time with the square of its size.
using Json = nlohmann::ordered_json;
using ReadJson = nlohmann::json;

inline constexpr const char* domain = "json";
enum Code : long { syntax = 1, missingKey = 2, wrongType = 3, invalidValue = 4, notFinite = 5 };

inline Error error(Code code, std::string text) { return Error{domain, code, std::move(text)}; }

// Prefixes an error's description with where it happened ("track 2: …").
Error within(const std::string& place, Error inner);

inline std::string utf8(const QString& s) { return s.toStdString(); }

// The JSON library's parse message with the token it quotes at its end ("…; last read: '<token>'",
// "number overflow parsing '<token>'") cut short (shortForMessage): the library quotes the token whole,
// however long.
std::string withShortToken(std::string message);

// Standard Base64 with padding, as written; nullopt for anything else (wrong length, stray characters,
// padding in the middle, line breaks).
std::optional<QByteArray> fromBase64Strict(std::string_view text);

// Reads the fields of one JSON object; the first failure is kept and later reads return defaults.
class ObjectReader {
public:
    explicit ObjectReader(const ReadJson& value);

    QString string(const char* key);
    std::optional<QString> optionalString(const char* key);  // missing or null: absent
    bool boolean(const char* key);
    double number(const char* key);          // any JSON number, read as a finite double
    const ReadJson* array(const char* key);  // required array; nullptr after a failure

    bool ok() const { return !error_; }
    const Error& error() const { return *error_; }
    void fail(Error e) {
        if (!error_) error_ = std::move(e);
    }

private:
    const ReadJson* required(const char* key, ReadJson::value_t type, const char* typeName);

    const ReadJson& value_;
    std::optional<Error> error_;
};

}  // namespace LibraryJson

}  // namespace quorvel
