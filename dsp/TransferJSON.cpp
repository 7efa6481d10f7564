#include "dsp/TransferJSON.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>

#include "dsp/QuorvelError.h"

namespace quorvel {

namespace {

constexpr long jsonErrorCode = 30;
static_assert(TransferJSON::readAhead >= simdjson::SIMDJSON_PADDING);

// Carries a readable description out of the nested readers and writers; caught at the two entry points,
// never passed to callers.
struct CodingFailure {
    std::string description;
};

std::string inQuotes(std::string_view key) { return "\"" + std::string(key) + "\""; }

// Where a value sits, spelled out only when something is wrong there: "Trace 3", "Trace 3, bin 17".
struct Place {
    std::size_t trace = 0;
    std::size_t bin = 0;  // 1-based; 0 for the trace itself
    std::string text() const {
        std::string out = "Trace " + std::to_string(trace + 1);
        if (bin) out += ", bin " + std::to_string(bin);
        return out;
    }
};

// --- Writing ---
//
// The file is written as text straight from the records, byte for byte what the JSON library's compact
// dump of the same ordered objects gives (the file format predates this writer, and older files must
// compare equal after a load and a save): its shortest round-trip form for doubles, its escaping for
// strings, and the key order of the records. A document tree of the whole list would take several
// times the file's size in memory.

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void raw(std::string_view text) { out_.append(text); }
    void key(std::string_view name) {
        out_ += '"';
        out_.append(name);
        out_ += "\":";
    }
    void integer(long value) {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out_.append(buffer, static_cast<std::size_t>(end - buffer));
    }
    void number(double value, const Place& place, const char* name) {
        if (!std::isfinite(value))
            throw CodingFailure{place.text() + ": " + inQuotes(name) +
                                " is not a finite number and cannot be written."};
        std::array<char, 64> buffer{};
        const char* end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        out_.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    }
    // Throws the library's type_error for text that is not valid UTF-8.
    void string(const std::string& text) { out_ += nlohmann::json(text).dump(); }

private:
    std::string& out_;
};

void writeTrace(Writer& w, const TransferTrace& trace, std::size_t index) {
    const Place place{index};
    w.raw("{");
    w.key("id");
    w.string(trace.id.toString());
    w.raw(",");
    w.key("name");
    w.string(trace.name);
    w.raw(",");
    w.key("captured");
    w.number(trace.captured, place, "captured");
    w.raw(",");
    w.key("sampleRate");
    w.number(trace.sampleRate, place, "sampleRate");
    w.raw(",");
    w.key("compensationMS");
    w.number(trace.compensationMS, place, "compensationMS");
    w.raw(",");
    w.key("arrivalMS");
    w.number(trace.arrivalMS, place, "arrivalMS");
    w.raw(",");
    w.key("micChannel");
    w.integer(trace.micChannel);
    w.raw(",");
    w.key("referenceChannel");
    w.integer(trace.referenceChannel);
    w.raw(",");
    w.key("bins");
    w.raw("[");
    for (std::size_t i = 0; i < trace.bins.size(); ++i) {
        const TransferBin& bin = trace.bins[i];
        const Place at{index, i + 1};
        w.raw(i ? ",{\"id\":" : "{\"id\":");
        w.integer(bin.id);
        w.raw(",\"hz\":");
        w.number(bin.hz, at, "hz");
        w.raw(",\"real\":");
        w.number(bin.real, at, "real");
        w.raw(",\"imag\":");
        w.number(bin.imag, at, "imag");
        w.raw(",\"coherence\":");
        w.number(bin.coherence, at, "coherence");
        w.raw("}");
    }
    w.raw("],");
    w.key("averages");
    w.integer(trace.averages);
    w.raw(",");
    w.key("position");
    w.string(trace.position);
    w.raw(",");
    w.key("setupID");
    w.string(trace.setupID);
    w.raw(",");
    w.key("hardwareIdentity");
    w.string(trace.hardwareIdentity);
    w.raw("}");
}

// --- Reading ---
//
// The document is parsed whole (every byte is checked to be JSON, unknown values included), then each
// object's members are walked once: a key looked up by name in a large object would cost a scan of the
// object per key. As with a document tree, a key given twice takes its last value.

using simdjson::dom::element;
using simdjson::dom::element_type;

// The members of one object that a record knows, by position in `names`; absent ones stay empty.
template <std::size_t N>
struct Members {
    std::array<element, N> value{};
    std::array<bool, N> present{};
};

template <std::size_t N>
Members<N> members(element object, const std::array<std::string_view, N>& names, const Place& place) {
    simdjson::dom::object fields;
    if (object.get_object().get(fields) != simdjson::SUCCESS)
        throw CodingFailure{place.text() + " must be an object."};
    Members<N> found;
    for (const auto field : fields) {
        for (std::size_t i = 0; i < N; ++i) {
            if (field.key == names[i]) {
                found.value[i] = field.value;
                found.present[i] = true;
                break;
            }
        }
    }
    return found;
}

template <std::size_t N>
element required(const Members<N>& m, const std::array<std::string_view, N>& names, std::size_t i,
                 const Place& place) {
    if (!m.present[i]) throw CodingFailure{place.text() + ": the key " + inQuotes(names[i]) + " is missing."};
    return m.value[i];
}

double readDouble(element value, std::string_view key, const Place& place) {
    double number = 0;
    if (!value.is_number() || value.get_double().get(number) != simdjson::SUCCESS)
        throw CodingFailure{place.text() + ": " + inQuotes(key) + " must be a number."};
    // The parser refuses numbers beyond a double's range; kept for what may parse differently one day.
    if (!std::isfinite(number))
        throw CodingFailure{place.text() + ": " + inQuotes(key) + " is out of range."};
    return number;
}

// A JSON integer, or a number with no fraction, that fits an int. A plain conversion would truncate 3.5
// to 3 without a word.
int readInt(element value, std::string_view key, const Place& place) {
    constexpr std::int64_t low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
    const std::string mustBe = place.text() + ": " + inQuotes(key) + " must be a whole number";
    switch (value.type()) {
        case element_type::INT64: {
            const std::int64_t number = value.get_int64().value_unsafe();
            if (number < low || number > high) throw CodingFailure{mustBe + " within range."};
            return static_cast<int>(number);
        }
        case element_type::UINT64:
            throw CodingFailure{mustBe + " within range."};
        case element_type::DOUBLE: {
            const double number = value.get_double().value_unsafe();
            if (!std::isfinite(number) || std::trunc(number) != number)
                throw CodingFailure{mustBe + ", not " + simdjson::minify(value) + "."};
            if (number < static_cast<double>(low) || number > static_cast<double>(high))
                throw CodingFailure{mustBe + " within range."};
            return static_cast<int>(number);
        }
        default:
            throw CodingFailure{mustBe + "."};
    }
}

std::string readString(element value, std::string_view key, const Place& place) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS)
        throw CodingFailure{place.text() + ": " + inQuotes(key) + " must be a string."};
    return std::string(text);
}

constexpr std::array<std::string_view, 5> binKeys = {"id", "hz", "real", "imag", "coherence"};
constexpr std::array<std::string_view, 13> traceKeys = {
    "id",        "name",       "captured",         "sampleRate", "compensationMS",
    "arrivalMS", "micChannel", "referenceChannel", "bins",       "averages",
    "position",  "setupID",    "hardwareIdentity"};

TransferBin readBin(element j, const Place& place) {
    const auto m = members(j, binKeys, place);
    TransferBin bin;
    bin.id = readInt(required(m, binKeys, 0, place), "id", place);
    bin.hz = readDouble(required(m, binKeys, 1, place), "hz", place);
    bin.real = readDouble(required(m, binKeys, 2, place), "real", place);
    bin.imag = readDouble(required(m, binKeys, 3, place), "imag", place);
    bin.coherence = readDouble(required(m, binKeys, 4, place), "coherence", place);
    return bin;
}

// Bins are paired by id, so one trace must not hold two of an id. Written traces are in increasing id,
// which is checked in one pass; any other order is sorted first.
void requireUniqueIds(const std::vector<TransferBin>& bins, const Place& place) {
    bool increasing = true;
    for (std::size_t i = 1; i < bins.size() && increasing; ++i) increasing = bins[i - 1].id < bins[i].id;
    if (increasing) return;
    std::vector<int> ids(bins.size());
    std::transform(bins.begin(), bins.end(), ids.begin(), [](const TransferBin& b) { return b.id; });
    std::sort(ids.begin(), ids.end());
    const auto twice = std::adjacent_find(ids.begin(), ids.end());
    if (twice != ids.end())
        throw CodingFailure{place.text() + " has two bins with id " + std::to_string(*twice) + "."};
}

TransferTrace readTrace(element j, std::size_t index) {
    const Place place{index};
    const auto m = members(j, traceKeys, place);
    const auto at = [&](std::size_t i) { return required(m, traceKeys, i, place); };
    TransferTrace trace;
    const std::string idText = readString(at(0), "id", place);
    const std::optional<Uuid> id = Uuid::parse(idText);
    if (!id) throw CodingFailure{place.text() + ": \"id\" is not a valid UUID: " + inQuotes(idText) + "."};
    trace.id = *id;
    trace.name = readString(at(1), "name", place);
    trace.captured = readDouble(at(2), "captured", place);
    trace.sampleRate = readDouble(at(3), "sampleRate", place);
    trace.compensationMS = readDouble(at(4), "compensationMS", place);
    trace.arrivalMS = readDouble(at(5), "arrivalMS", place);
    trace.micChannel = readInt(at(6), "micChannel", place);
    trace.referenceChannel = readInt(at(7), "referenceChannel", place);
    simdjson::dom::array bins;
    if (at(8).get_array().get(bins) != simdjson::SUCCESS)
        throw CodingFailure{place.text() + ": \"bins\" must be an array."};
    trace.bins.reserve(bins.size());
    for (const element bin : bins) trace.bins.push_back(readBin(bin, {index, trace.bins.size() + 1}));
    requireUniqueIds(trace.bins, place);
    trace.averages = readInt(at(9), "averages", place);
    trace.position = readString(at(10), "position", place);
    trace.setupID = readString(at(11), "setupID", place);
    trace.hardwareIdentity = readString(at(12), "hardwareIdentity", place);
    return trace;
}

// The JSON library's message without its "[json.exception.type_error.316] " tag.
std::string libraryMessage(const std::exception& e) {
    std::string text = e.what();
    if (text.rfind("[json.exception.", 0) == 0) {
        const std::size_t end = text.find("] ");
        if (end != std::string::npos) text.erase(0, end + 2);
    }
    return text;
}

Error outOfMemory() {
    return QuorvelError::make(jsonErrorCode, "There is not enough memory to read the measurements.");
}

}  // namespace

namespace TransferJSON {

Result<std::string> encode(const std::vector<TransferTrace>& traces) {
    try {
        std::size_t bins = 0;
        for (const TransferTrace& t : traces) bins += t.bins.size();
        std::string out;
        out.reserve(bins * 115 + traces.size() * 400 + 2);  // about what a measured bin takes
        Writer w(out);
        w.raw("[");
        for (std::size_t i = 0; i < traces.size(); ++i) {
            if (i) w.raw(",");
            writeTrace(w, traces[i], i);
        }
        w.raw("]");
        return out;
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const nlohmann::json::exception& e) {
        // Only text that is not valid UTF-8 gets here.
        return QuorvelError::make(jsonErrorCode, "The traces cannot be written: " + libraryMessage(e));
    } catch (const std::bad_alloc&) {
        return QuorvelError::make(jsonErrorCode, "There is not enough memory to write the measurements.");
    }
}

Result<std::vector<TransferTrace>> decode(std::string_view text, bool padded) {
    // A byte-order mark, which some editors add, is no part of the JSON.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    try {
        simdjson::dom::parser parser;
        element array;
        const simdjson::error_code parsed = parser.parse(text.data(), text.size(), !padded).get(array);
        if (parsed == simdjson::MEMALLOC) return outOfMemory();
        if (parsed != simdjson::SUCCESS)
            return QuorvelError::make(jsonErrorCode, std::string("The measurements are not valid JSON: ") +
                                                         simdjson::error_message(parsed));
        simdjson::dom::array list;
        if (array.get_array().get(list) != simdjson::SUCCESS)
            throw CodingFailure{"The measurements are not a JSON array of traces."};
        std::vector<TransferTrace> traces;
        traces.reserve(list.size());
        for (const element trace : list) traces.push_back(readTrace(trace, traces.size()));
        return traces;
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

}  // namespace TransferJSON

}  // namespace quorvel
