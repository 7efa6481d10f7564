#include "dsp/TransferJSON.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;

TransferTrace sampleTrace() {
    TransferTrace t;
    t.id = *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    t.name = "Main L · 1 kHz – test";
    t.captured = 797000000.123456789;  // a 2026 date with a fraction
    t.sampleRate = 48000;
    t.compensationMS = 10.0 / 3.0;
    t.arrivalMS = 10.0 / 3.0;
    t.micChannel = 0;
    t.referenceChannel = 1;
    t.bins = {{7, 20.5078125, 0.1, -0.0, 0.99}, {8, 23.4375, -1.5e-300, 5e-324, 1.0}};
    t.averages = 3;
    t.hardwareIdentity = "device:3";
    return t;
}

void expectSameBits(double a, double b, const char* field) {
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << field << ": " << a << " vs " << b;
}

// operator== treats 0.0 and −0.0 as equal; a stored trace must come back to the last bit.
void expectIdentical(const TransferTrace& a, const TransferTrace& b) {
    EXPECT_EQ(a, b);
    expectSameBits(a.captured, b.captured, "captured");
    expectSameBits(a.sampleRate, b.sampleRate, "sampleRate");
    expectSameBits(a.compensationMS, b.compensationMS, "compensationMS");
    expectSameBits(a.arrivalMS, b.arrivalMS, "arrivalMS");
    ASSERT_EQ(a.bins.size(), b.bins.size());
    for (std::size_t i = 0; i < a.bins.size(); ++i) {
        expectSameBits(a.bins[i].hz, b.bins[i].hz, "hz");
        expectSameBits(a.bins[i].real, b.bins[i].real, "real");
        expectSameBits(a.bins[i].imag, b.bins[i].imag, "imag");
        expectSameBits(a.bins[i].coherence, b.bins[i].coherence, "coherence");
    }
}

Json validArray() { return Json::parse(TransferJSON::encode({sampleTrace()}).value()); }

std::string decodeError(const std::string& text) {
    auto decoded = TransferJSON::decode(text);
    if (decoded.ok()) return "(decoded)";
    EXPECT_EQ(decoded.error().domain, "Quorvel");
    EXPECT_EQ(decoded.error().code, 30);
    return decoded.error().description;
}

}  // namespace

TEST(TransferJSON, WritesCompactKeysInFieldOrder) {
    TransferTrace t = sampleTrace();
    t.name = "Sub";
    t.captured = 0.5;
    t.compensationMS = 1.25;
    t.arrivalMS = 2;
    t.bins = {{7, 20.5078125, 1, -0.5, 0.25}};
    const std::string expected =
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Sub","captured":0.5,"sampleRate":48000.0,)"
        R"("compensationMS":1.25,"arrivalMS":2.0,"micChannel":0,"referenceChannel":1,)"
        R"("bins":[{"id":7,"hz":20.5078125,"real":1.0,"imag":-0.5,"coherence":0.25}],"averages":3,)"
        R"("position":"Listener position","setupID":"Default setup","hardwareIdentity":"device:3"}])";
    EXPECT_EQ(TransferJSON::encode({t}).value(), expected);
    EXPECT_EQ(TransferJSON::encode({}).value(), "[]");
}

TEST(TransferJSON, RoundTripIsBitExact) {
    TransferTrace awkward = sampleTrace();
    awkward.captured = std::nextafter(referenceDateNow(), 1e12);
    awkward.sampleRate = std::numeric_limits<double>::max();
    awkward.compensationMS = std::numeric_limits<double>::denorm_min();
    awkward.arrivalMS = -0.0;
    TransferTrace empty = sampleTrace();
    empty.id = Uuid::generate();
    empty.bins.clear();  // the format allows a trace without bins
    empty.position = "";
    const std::vector<TransferTrace> traces{sampleTrace(), awkward, empty};

    auto text = TransferJSON::encode(traces);
    ASSERT_TRUE(text.ok()) << text.error().description;
    auto back = TransferJSON::decode(*text);
    ASSERT_TRUE(back.ok()) << back.error().description;
    ASSERT_EQ(back->size(), traces.size());
    for (std::size_t i = 0; i < traces.size(); ++i) expectIdentical((*back)[i], traces[i]);
    if (HasFailure()) std::ofstream(QUORVEL_TEST_OUTPUT_DIR "/roundtrip.json") << *text;
}

TEST(TransferJSON, RefusesToWriteNonFiniteNumbers) {
    TransferTrace t = sampleTrace();
    t.arrivalMS = std::numeric_limits<double>::quiet_NaN();
    auto text = TransferJSON::encode({sampleTrace(), t});
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().description,
              "Trace 2: \"arrivalMS\" is not a finite number and cannot be written.");

    t = sampleTrace();
    t.bins[1].coherence = -std::numeric_limits<double>::infinity();
    text = TransferJSON::encode({t});
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().description,
              "Trace 1, bin 2: \"coherence\" is not a finite number and cannot be written.");

    t = sampleTrace();
    t.name = "\xff\xfe";  // not UTF-8: the library would throw
    EXPECT_FALSE(TransferJSON::encode({t}).ok());
}

TEST(TransferJSON, EveryKeyIsRequired) {
    for (const char* key :
         {"id", "name", "captured", "sampleRate", "compensationMS", "arrivalMS", "micChannel",
          "referenceChannel", "bins", "averages", "position", "setupID", "hardwareIdentity"}) {
        Json j = validArray();
        j[0].erase(key);
        const std::string error = decodeError(j.dump());
        EXPECT_NE(error.find(std::string("\"") + key + "\" is missing"), std::string::npos) << error;
    }
    for (const char* key : {"id", "hz", "real", "imag", "coherence"}) {
        Json j = validArray();
        j[0]["bins"][1].erase(key);
        const std::string error = decodeError(j.dump());
        EXPECT_NE(error.find("Trace 1, bin 2"), std::string::npos) << error;
        EXPECT_NE(error.find(std::string("\"") + key + "\" is missing"), std::string::npos) << error;
    }
}

TEST(TransferJSON, RefusesWrongTypes) {
    const std::pair<const char*, Json> cases[] = {
        {"id", 12},
        {"name", 1.5},
        {"captured", "today"},
        {"sampleRate", nullptr},
        {"micChannel", true},
        {"micChannel", "0"},
        {"bins", Json::object()},
        {"averages", Json::array()},
        {"position", false},
        {"hardwareIdentity", Json::array()},
    };
    for (const auto& [key, value] : cases) {
        Json j = validArray();
        j[0][key] = value;
        const std::string error = decodeError(j.dump());
        EXPECT_NE(error.find(std::string("\"") + key + "\" must be"), std::string::npos)
            << key << ": " << error;
    }
    Json j = validArray();
    j[0]["bins"][0]["coherence"] = "high";
    EXPECT_NE(decodeError(j.dump()).find("bin 1: \"coherence\" must be a number"), std::string::npos);
    j = validArray();
    j[0]["bins"][0] = 5;
    EXPECT_NE(decodeError(j.dump()).find("bin 1 must be an object"), std::string::npos);
    j = validArray();
    j[0] = "trace";
    EXPECT_NE(decodeError(j.dump()).find("Trace 1 must be an object"), std::string::npos);
    EXPECT_NE(decodeError(R"({"traces":[]})").find("not a JSON array"), std::string::npos);
}

// nlohmann would read 3.5 into an int as 3; an integer field must hold a whole number that fits.
TEST(TransferJSON, IntegerFieldsNeedWholeNumbersInRange) {
    for (const char* key : {"micChannel", "referenceChannel", "averages"}) {
        for (const Json& bad :
             {Json(3.5), Json(-0.25), Json(1e10), Json(-3000000000LL), Json(4294967296ULL)}) {
            Json j = validArray();
            j[0][key] = bad;
            const std::string error = decodeError(j.dump());
            EXPECT_NE(error.find(std::string("\"") + key + "\" must be a whole number"), std::string::npos)
                << key << " = " << bad.dump() << ": " << error;
        }
    }
    Json j = validArray();
    j[0]["bins"][0]["id"] = 7.5;
    EXPECT_NE(decodeError(j.dump()).find("bin 1: \"id\" must be a whole number, not 7.5"), std::string::npos);

    j = validArray();
    j[0]["averages"] = 4.0;  // integral, so acceptable
    auto decoded = TransferJSON::decode(j.dump());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description;
    EXPECT_EQ((*decoded)[0].averages, 4);
}

TEST(TransferJSON, RefusesMalformedUuidsAndJson) {
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
                            "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"}) {
        Json j = validArray();
        j[0]["id"] = bad;
        EXPECT_NE(decodeError(j.dump()).find("is not a valid UUID"), std::string::npos) << bad;
    }
    const std::string text = validArray().dump();
    for (const std::string& bad : {text.substr(0, text.size() - 2), std::string(""), std::string("[1e400]"),
                                   std::string("[{\"id\":NaN}]"), std::string("[\"\xff\"]")}) {
        const std::string error = decodeError(bad);
        EXPECT_EQ(error.rfind("The measurements are not valid JSON: ", 0), 0u) << error;
        EXPECT_EQ(error.find("[json.exception"), std::string::npos) << error;
    }
}

// Alignment pairs bins by id, so a hand-edited trace with a repeated id is refused as a whole.
TEST(TransferJSON, RefusesDuplicateBinIds) {
    Json j = validArray();
    j[0]["bins"][1]["id"] = 7;
    EXPECT_EQ(decodeError(j.dump()), "Trace 1 has two bins with id 7.");
}

TEST(TransferJSON, IgnoresUnknownKeysAndKeyOrder) {
    const Json original = validArray();
    Json reordered = Json::array({Json::object()});
    reordered[0]["comment"] = "added by hand";
    std::vector<std::string> keys;
    for (const auto& item : original[0].items()) keys.push_back(item.key());
    for (auto k = keys.rbegin(); k != keys.rend(); ++k) reordered[0][*k] = original[0][*k];
    reordered[0]["bins"][0]["extra"] = Json::array({1, 2});
    std::string lower = reordered[0]["id"].get<std::string>();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    reordered[0]["id"] = lower;

    auto decoded = TransferJSON::decode(reordered.dump());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description;
    expectIdentical((*decoded)[0], sampleTrace());
}

// The file format predates the writer: what it writes must be what the JSON library's compact dump of
// the same ordered objects gives, byte for byte, for any doubles and any text.
TEST(TransferJSON, WritesWhatTheLibraryWouldWrite) {
    const double doubles[] = {0.0,  -0.0, 1e-5,      1e-4,   0.1,   1.0 / 3,  123456789.0, 1e15,
                              1e16, 1e21, -2.5e-308, 5e-324, 1e308, 47.99999, 48000.0,     -1e-300};
    TransferTrace t = sampleTrace();
    t.name = "quote \" back \\ tab \t nl \n bell \x07 del \x7f \u00e9 \u2014 \U0001F3B5";
    t.position = std::string("nul \0 inside", 13);
    t.micChannel = std::numeric_limits<int>::min();
    t.referenceChannel = std::numeric_limits<int>::max();
    t.bins.clear();
    int k = -3;
    for (double a : doubles)
        for (double b : {doubles[0], doubles[5], doubles[9]}) t.bins.push_back({k++, a, b, -a, b / 3});
    Json expected = Json::array();
    for (const TransferTrace& trace : {t, sampleTrace()}) {
        Json bins = Json::array();
        for (const TransferBin& bin : trace.bins)
            bins.push_back({{"id", bin.id},
                            {"hz", bin.hz},
                            {"real", bin.real},
                            {"imag", bin.imag},
                            {"coherence", bin.coherence}});
        expected.push_back({{"id", trace.id.toString()},
                            {"name", trace.name},
                            {"captured", trace.captured},
                            {"sampleRate", trace.sampleRate},
                            {"compensationMS", trace.compensationMS},
                            {"arrivalMS", trace.arrivalMS},
                            {"micChannel", trace.micChannel},
                            {"referenceChannel", trace.referenceChannel},
                            {"bins", bins},
                            {"averages", trace.averages},
                            {"position", trace.position},
                            {"setupID", trace.setupID},
                            {"hardwareIdentity", trace.hardwareIdentity}});
    }
    auto written = TransferJSON::encode({t, sampleTrace()});
    ASSERT_TRUE(written) << written.error().description;
    EXPECT_EQ(*written, expected.dump());
    auto back = TransferJSON::decode(*written);
    ASSERT_TRUE(back) << back.error().description;
    expectIdentical((*back)[0], t);
}

// As with a document tree, a key given twice counts with its last value; a byte-order mark is skipped;
// values under unknown keys must still be JSON.
TEST(TransferJSON, ReadsRepeatedKeysAndMarksAsTheLibraryDid) {
    std::string text = validArray().dump();
    text.insert(1 + text.find('{'), R"("bins":[{"id":1}],)");
    text.insert(text.rfind('}'), R"(,"averages":"not yet","averages":9)");
    auto decoded = TransferJSON::decode("\xEF\xBB\xBF" + text);
    ASSERT_TRUE(decoded) << decoded.error().description;
    EXPECT_EQ((*decoded)[0].averages, 9);
    EXPECT_EQ((*decoded)[0].bins, sampleTrace().bins);
    text = validArray().dump();
    text.insert(1 + text.find('{'), R"("note":[1,tru],)");
    EXPECT_EQ(decodeError(text).rfind("The measurements are not valid JSON: ", 0), 0u);
}

}  // namespace quorvel
