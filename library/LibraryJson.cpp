#include "library/LibraryJson.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quorvel {

namespace LibraryJson {

Error within(const std::string& place, Error inner) {
    inner.description = place + ": " + inner.description;
    return inner;
}

std::string withShortToken(std::string message) {
    if (message.empty() || message.back() != '\'') return message;
    std::size_t start = std::string::npos;
    for (const char* marker : {"last read: '", "parsing '"}) {
        const std::size_t at = message.find(marker);
        if (at != std::string::npos) start = std::min(start, at + std::strlen(marker));
    }
    if (start == std::string::npos || start >= message.size()) return message;
    return message.substr(0, start) +
           shortForMessage(std::string_view(message).substr(start, message.size() - 1 - start)) + "'";
}

std::optional<QByteArray> fromBase64Strict(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        char c = text[i];
        bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '+' || c == '/';
        if (!alphabet) return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(QByteArray(text.data(), qsizetype(text.size())),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return *decoded;
}

ObjectReader::ObjectReader(const ReadJson& value) : value_(value) {
    if (!value_.is_object())
        fail(LibraryJson::error(wrongType, "expected an object, found " + std::string(value_.type_name())));
}

const ReadJson* ObjectReader::required(const char* key, ReadJson::value_t type, const char* typeName) {
    if (error_) return nullptr;
    auto it = value_.find(key);
    if (it == value_.end() || it->is_null()) {
        fail(LibraryJson::error(missingKey, std::string("the key \"") + key + "\" is missing"));
        return nullptr;
    }
    bool matches = type == ReadJson::value_t::number_float ? it->is_number() : it->type() == type;
    if (!matches) {
        fail(LibraryJson::error(wrongType, std::string("the key \"") + key + "\" holds " + it->type_name() +
                                               ", expected " + typeName));
        return nullptr;
    }
    return &*it;
}

QString ObjectReader::string(const char* key) {
    const ReadJson* v = required(key, ReadJson::value_t::string, "a string");
    return v ? QString::fromStdString(v->get_ref<const std::string&>()) : QString();
}

std::optional<QString> ObjectReader::optionalString(const char* key) {
    if (error_) return std::nullopt;
    auto it = value_.find(key);
    if (it == value_.end() || it->is_null()) return std::nullopt;
    return string(key);
}

bool ObjectReader::boolean(const char* key) {
    const ReadJson* v = required(key, ReadJson::value_t::boolean, "a boolean");
    return v && v->get<bool>();
}

double ObjectReader::number(const char* key) {
    const ReadJson* v = required(key, ReadJson::value_t::number_float, "a number");
    if (!v) return 0;
    double d = v->get<double>();
    if (!std::isfinite(d)) {
        fail(LibraryJson::error(notFinite, std::string("the key \"") + key + "\" is out of range"));
        return 0;
    }
    return d;
}

const ReadJson* ObjectReader::array(const char* key) {
    return required(key, ReadJson::value_t::array, "an array");
}

}  // namespace LibraryJson

}  // namespace quorvel
