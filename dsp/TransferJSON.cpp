#include "dsp/TransferJSON.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "dsp/QuorvelError.h"

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;
constexpr long jsonErrorCode = 30;

// Carries a readable description out of the nested readers and writers; caught at the two entry points,
// never passed to callers.
struct CodingFailure {
    std::string description;
};

std::string inQuotes(std::string_view key) { return "\"" + std::string(key) + "\""; }

// --- Writing ---

double finite(double value, const std::string& where, const char* key) {
    if (!std::isfinite(value))
        throw CodingFailure{where + ": " + inQuotes(key) + " is not a finite number and cannot be written."};
    return value;
}

Json binJSON(const TransferBin& bin, const std::string& where) {
    Json j = Json::object();
    j["id"] = bin.id;
    j["hz"] = finite(bin.hz, where, "hz");
    j["real"] = finite(bin.real, where, "real");
    j["imag"] = finite(bin.imag, where, "imag");
    j["coherence"] = finite(bin.coherence, where, "coherence");
    return j;
}

Json traceJSON(const TransferTrace& trace, const std::string& where) {
    Json bins = Json::array();
    for (std::size_t i = 0; i < trace.bins.size(); ++i)
        bins.push_back(binJSON(trace.bins[i], where + ", bin " + std::to_string(i + 1)));
    Json j = Json::object();
    j["id"] = trace.id.toString();
    j["name"] = trace.name;
    j["captured"] = finite(trace.captured, where, "captured");
    j["sampleRate"] = finite(trace.sampleRate, where, "sampleRate");
    j["compensationMS"] = finite(trace.compensationMS, where, "compensationMS");
    j["arrivalMS"] = finite(trace.arrivalMS, where, "arrivalMS");
    j["micChannel"] = trace.micChannel;
    j["referenceChannel"] = trace.referenceChannel;
    j["bins"] = std::move(bins);
    j["averages"] = trace.averages;
    j["position"] = trace.position;
    j["setupID"] = trace.setupID;
    j["hardwareIdentity"] = trace.hardwareIdentity;
    return j;
}

// --- Reading ---

const Json& member(const Json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end()) throw CodingFailure{where + ": the key " + inQuotes(key) + " is missing."};
    return *found;
}

double readDouble(const Json& object, const char* key, const std::string& where) {
    const Json& value = member(object, key, where);
    if (!value.is_number()) throw CodingFailure{where + ": " + inQuotes(key) + " must be a number."};
    const double number = value.get<double>();
    if (!std::isfinite(number)) throw CodingFailure{where + ": " + inQuotes(key) + " is out of range."};
    return number;
}

// A JSON integer, or a number with no fraction, that fits an int. The JSON library would truncate
// 3.5 to 3 without a word.
int readInt(const Json& object, const char* key, const std::string& where) {
    const Json& value = member(object, key, where);
    constexpr std::int64_t low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
    const std::string mustBe = where + ": " + inQuotes(key) + " must be a whole number";
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(high)) throw CodingFailure{mustBe + " within range."};
        return static_cast<int>(number);
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < low || number > high) throw CodingFailure{mustBe + " within range."};
        return static_cast<int>(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number)
            throw CodingFailure{mustBe + ", not " + value.dump() + "."};
        if (number < static_cast<double>(low) || number > static_cast<double>(high))
            throw CodingFailure{mustBe + " within range."};
        return static_cast<int>(number);
    }
    throw CodingFailure{mustBe + "."};
}

std::string readString(const Json& object, const char* key, const std::string& where) {
    const Json& value = member(object, key, where);
    if (!value.is_string()) throw CodingFailure{where + ": " + inQuotes(key) + " must be a string."};
    return value.get<std::string>();
}

TransferBin readBin(const Json& j, const std::string& where) {
    if (!j.is_object()) throw CodingFailure{where + " must be an object."};
    TransferBin bin;
    bin.id = readInt(j, "id", where);
    bin.hz = readDouble(j, "hz", where);
    bin.real = readDouble(j, "real", where);
    bin.imag = readDouble(j, "imag", where);
    bin.coherence = readDouble(j, "coherence", where);
    return bin;
}

TransferTrace readTrace(const Json& j, const std::string& where) {
    if (!j.is_object()) throw CodingFailure{where + " must be an object."};
    TransferTrace trace;
    const std::string idText = readString(j, "id", where);
    const std::optional<Uuid> id = Uuid::parse(idText);
    if (!id) throw CodingFailure{where + ": \"id\" is not a valid UUID: " + inQuotes(idText) + "."};
    trace.id = *id;
    trace.name = readString(j, "name", where);
    trace.captured = readDouble(j, "captured", where);
    trace.sampleRate = readDouble(j, "sampleRate", where);
    trace.compensationMS = readDouble(j, "compensationMS", where);
    trace.arrivalMS = readDouble(j, "arrivalMS", where);
    trace.micChannel = readInt(j, "micChannel", where);
    trace.referenceChannel = readInt(j, "referenceChannel", where);
    const Json& bins = member(j, "bins", where);
    if (!bins.is_array()) throw CodingFailure{where + ": \"bins\" must be an array."};
    std::set<int> ids;
    trace.bins.reserve(bins.size());
    for (std::size_t i = 0; i < bins.size(); ++i) {
        TransferBin bin = readBin(bins[i], where + ", bin " + std::to_string(i + 1));
        if (!ids.insert(bin.id).second)
            throw CodingFailure{where + " has two bins with id " + std::to_string(bin.id) + "."};
        trace.bins.push_back(bin);
    }
    trace.averages = readInt(j, "averages", where);
    trace.position = readString(j, "position", where);
    trace.setupID = readString(j, "setupID", where);
    trace.hardwareIdentity = readString(j, "hardwareIdentity", where);
    return trace;
}

// The JSON library's message without its "[json.exception.parse_error.101] " tag.
std::string libraryMessage(const std::exception& e) {
    std::string text = e.what();
    if (text.rfind("[json.exception.", 0) == 0) {
        const std::size_t end = text.find("] ");
        if (end != std::string::npos) text.erase(0, end + 2);
    }
    return text;
}

std::string traceLabel(std::size_t index) { return "Trace " + std::to_string(index + 1); }

}  // namespace

namespace TransferJSON {

Result<std::string> encode(const std::vector<TransferTrace>& traces) {
    try {
        Json array = Json::array();
        for (std::size_t i = 0; i < traces.size(); ++i) array.push_back(traceJSON(traces[i], traceLabel(i)));
        return array.dump();
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const Json::exception& e) {
        // Only text that is not valid UTF-8 gets here.
        return QuorvelError::make(jsonErrorCode, "The traces cannot be written: " + libraryMessage(e));
    }
}

Result<std::vector<TransferTrace>> decode(std::string_view text) {
    try {
        const Json array = Json::parse(text);
        if (!array.is_array()) throw CodingFailure{"The measurements are not a JSON array of traces."};
        std::vector<TransferTrace> traces;
        traces.reserve(array.size());
        for (std::size_t i = 0; i < array.size(); ++i) traces.push_back(readTrace(array[i], traceLabel(i)));
        return traces;
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const Json::exception& e) {
        return QuorvelError::make(jsonErrorCode, "The measurements are not valid JSON: " + libraryMessage(e));
    }
}

}  // namespace TransferJSON

}  // namespace quorvel
