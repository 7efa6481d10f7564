#include "dsp/TransferJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
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
    t.compensationMS = t.arrivalMS = 10.0 / 3.0;
    t.micChannel = 0;
    t.referenceChannel = 1;
    t.bins = {{7, 20.5078125, 0.1, -0.0, 0.99}, {8, 23.4375, -1.5e-300, 5e-324, 1.0}};
    t.averages = 3;
    t.hardwareIdentity = "device:3";
    return t;
}

// operator== treats 0.0 and −0.0 as equal; a stored trace must come back to the last bit.
void expectIdentical(const TransferTrace& a, const TransferTrace& b) {
    EXPECT_EQ(a, b);
    auto same = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    EXPECT_TRUE(same(a.captured, b.captured) && same(a.sampleRate, b.sampleRate) &&
                same(a.compensationMS, b.compensationMS) && same(a.arrivalMS, b.arrivalMS));
    ASSERT_EQ(a.bins.size(), b.bins.size());
    for (std::size_t i = 0; i < a.bins.size(); ++i)
        EXPECT_TRUE(same(a.bins[i].hz, b.bins[i].hz) && same(a.bins[i].real, b.bins[i].real) &&
                    same(a.bins[i].imag, b.bins[i].imag) && same(a.bins[i].coherence, b.bins[i].coherence))
            << "bin " << i;
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

// Every refusal names the trace, the bin and the key at fault, in plain words.
TEST(TransferJSON, RefusesWhatIsNotAListOfTraces) {
    for (const std::string key :
         {"id", "name", "captured", "sampleRate", "compensationMS", "arrivalMS", "micChannel",
          "referenceChannel", "bins", "averages", "position", "setupID", "hardwareIdentity"}) {
        Json j = validArray();
        j[0].erase(key);
        EXPECT_EQ(decodeError(j.dump()), "Trace 1: the key \"" + key + "\" is missing.");
    }
    for (const std::string key : {"id", "hz", "real", "imag", "coherence"}) {
        Json j = validArray();
        j[0]["bins"][1].erase(key);
        EXPECT_EQ(decodeError(j.dump()), "Trace 1, bin 2: the key \"" + key + "\" is missing.");
    }
    const std::pair<std::function<void(Json&)>, std::string> cases[] = {
        {[](Json& j) { j[0]["id"] = 12; }, "Trace 1: \"id\" must be a string."},
        {[](Json& j) { j[0]["id"] = "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"; },
         "Trace 1: \"id\" is not a valid UUID: \"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}\"."},
        {[](Json& j) { j[0]["captured"] = "today"; }, "Trace 1: \"captured\" must be a number."},
        {[](Json& j) { j[0]["micChannel"] = true; }, "Trace 1: \"micChannel\" must be a whole number."},
        {[](Json& j) { j[0]["bins"] = Json::object(); }, "Trace 1: \"bins\" must be an array."},
        // nlohmann would read 3.5 into an int as 3: an integer must be whole and fit.
        {[](Json& j) { j[0]["micChannel"] = 3.5; },
         "Trace 1: \"micChannel\" must be a whole number, not 3.5."},
        {[](Json& j) { j[0]["averages"] = 1e10; },
         "Trace 1: \"averages\" must be a whole number within range."},
        {[](Json& j) { j[0]["micChannel"] = 2147483648LL; },
         "Trace 1: \"micChannel\" must be a whole number within range."},
        {[](Json& j) { j[0]["bins"][0] = 5; }, "Trace 1, bin 1 must be an object."},
        {[](Json& j) { j.push_back("trace"); }, "Trace 2 must be an object."},
        {[](Json& j) {
             j = Json::object({{"traces", Json::array()}});
         },
         "The measurements are not a JSON array of traces."},
        // Alignment pairs bins by id, so a hand-edited trace with a repeated id is refused as a whole.
        {[](Json& j) { j[0]["bins"][1]["id"] = 7; }, "Trace 1 has two bins with id 7."},
    };
    for (const auto& [edit, error] : cases) {
        Json j = validArray();
        edit(j);
        EXPECT_EQ(decodeError(j.dump()), error) << j.dump();
    }
    std::string text = validArray().dump();
    std::string unknownBroken = text;
    unknownBroken.insert(1 + text.find('{'),
                         R"("note":[1,tru],)");  // values under unknown keys must be JSON too
    for (const std::string& bad : {text.substr(0, text.size() - 2), std::string(""), std::string("[1e400]"),
                                   std::string("[{\"id\":NaN}]"), std::string("[\"\xff\"]"), unknownBroken}) {
        const std::string error = decodeError(bad);
        EXPECT_EQ(error.rfind("The measurements are not valid JSON: ", 0), 0u) << error;
        EXPECT_EQ(error.find("[json.exception"), std::string::npos) << error;
    }
}

// Hand-edited files: unknown keys, any order, lower-case id, 4.0 for 4, repeated keys, a BOM.
TEST(TransferJSON, ReadsWhatOtherWritersMayWrite) {
    const Json original = validArray();
    Json reordered = Json::array({Json::object()});
    reordered[0]["comment"] = "added by hand";
    std::vector<std::string> keys;
    for (const auto& item : original[0].items()) keys.push_back(item.key());
    for (auto k = keys.rbegin(); k != keys.rend(); ++k) reordered[0][*k] = original[0][*k];
    reordered[0]["bins"][0]["extra"] = Json::array({1, 2});
    reordered[0]["id"] = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f";
    auto decoded = TransferJSON::decode(reordered.dump());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description;
    expectIdentical((*decoded)[0], sampleTrace());

    Json j = validArray();
    j[0]["averages"] = 4.0;
    std::swap(j[0]["bins"][0], j[0]["bins"][1]);
    decoded = TransferJSON::decode(j.dump());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description;
    EXPECT_EQ((*decoded)[0].averages, 4);
    EXPECT_EQ((*decoded)[0].bins[0].id, 8);

    std::string text = validArray().dump();
    text.insert(1 + text.find('{'), R"("bins":[{"id":1}],)");
    text.insert(text.rfind('}'), R"(,"averages":"not yet","averages":9)");
    decoded = TransferJSON::decode("\xEF\xBB\xBF" + text);
    ASSERT_TRUE(decoded) << decoded.error().description;
    EXPECT_EQ((*decoded)[0].averages, 9);
    EXPECT_EQ((*decoded)[0].bins, sampleTrace().bins);
}

namespace {

// The same text with a space in the first trace, which sends that trace to the full reading.
std::string withSpace(const std::string& text) { return "[{ " + text.substr(2); }

// `text` with the first `from` after `after` replaced by `to`.
std::string replaced(std::string text, const std::string& after, const std::string& from,
                     const std::string& to) {
    const std::size_t at = text.find(from, text.find(after));
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

}  // namespace

// A file as this writer writes it is read in one pass, apart from the full reading that any other text
// takes; both give the same traces to the last bit and the same refusals, whatever number forms, strings,
// and faults a trace holds, and wherever in a long trace the writer's form ends.
TEST(TransferJSON, TheWritersFormReadsAsTheFullReadingDoes) {
    const std::string text = TransferJSON::encode({sampleTrace()}).value();
    const auto same = [](const std::string& edited) {
        SCOPED_TRACE(edited.substr(0, 400));
        auto direct = TransferJSON::decode(edited), full = TransferJSON::decode(withSpace(edited));
        ASSERT_EQ(direct.ok(), full.ok()) << (direct ? full.error() : direct.error()).description;
        if (direct) {
            ASSERT_EQ(direct->size(), 1u);
            expectIdentical((*direct)[0], (*full)[0]);
        } else {
            EXPECT_EQ(direct.error().description, full.error().description);
        }
    };
    same(text);
    // Numbers: JSON's forms, an integer read as simdjson reads it (−0 as 0), the edges of a double's range,
    // and what is not a JSON number.
    for (const std::string number : {"-0",
                                     "0",
                                     "-0.0",
                                     "1E2",
                                     "1e+2",
                                     "2050.78125E-2",
                                     "123456789012345678",
                                     "1234567890123456789",
                                     "98765432109876543210",
                                     "9007199254740993",
                                     "0.1",
                                     "1.7976931348623157e308",
                                     "4.9e-324",
                                     "2.2250738585072011e-308",
                                     "1e-400",
                                     "1e400",
                                     "01",
                                     "1.",
                                     ".5",
                                     "-",
                                     "1e",
                                     "+1",
                                     "0x10",
                                     "1.5.2",
                                     "-01",
                                     "1e+",
                                     "NaN",
                                     "\"20\"",
                                     "true"}) {
        same(replaced(text, "\"bins\"", "20.5078125", number));
        same(replaced(text, "\"bins\"", "-0.0", number));
        same(replaced(text, "\"captured\"", "797000000.1234568", number));
        same(replaced(text, "\"bins\"", "\"id\":7", "\"id\":" + number));
        same(replaced(text, "\"micChannel\"", ":0", ":" + number));
    }
    // Strings: UTF-8, escapes, control characters, bytes that are not UTF-8, and a UUID that is not one.
    for (const std::string name :
         {"Bühne – Mitte", "quote \\\" inside", "tab\tinside", "\xff\xfe", "\xc3", "\\u00fc"})
        same(replaced(text, "\"name\"", "Main L \u00b7 1 kHz \u2013 test", name));
    same(replaced(text, "\"id\"", "E621E1F8", "X621E1F8"));
    same(replaced(text, "\"id\"", "E621E1F8", "e621e1f8"));
    same(replaced(text, "\"averages\"", "3", "3.0"));

    // A long trace: past a megabyte of text, in pieces of any size, and the writer's form ending late in
    // it, where the full reading takes it up from the trace's start.
    TransferTrace longTrace = sampleTrace();
    longTrace.bins.clear();
    for (int k = 1; k <= 20000; ++k)
        longTrace.bins.push_back({k, k * 2.9296875, std::sin(k) / 3, std::cos(k) / 7, 0.5 + std::sin(k) / 3});
    const std::string longText = TransferJSON::encode({longTrace}).value();
    ASSERT_GT(longText.size(), std::size_t{2} << 20);
    for (std::size_t piece : {std::size_t(1), std::size_t(4093), longText.size()}) {
        std::string_view rest = longText;
        auto decoded =
            TransferJSON::decode([&rest, piece](char* into, std::size_t size) -> Result<std::size_t> {
                const std::size_t n = std::min({size, piece, rest.size()});
                std::memcpy(into, rest.data(), n);
                rest.remove_prefix(n);
                return n;
            });
        ASSERT_TRUE(decoded) << decoded.error().description;
        ASSERT_EQ(decoded->size(), 1u);
        expectIdentical((*decoded)[0], longTrace);
    }
    const std::string bin = "{\"id\":19000,";
    ASSERT_NE(longText.find(bin), std::string::npos);
    same(replaced(longText, bin, bin, "{ \"id\":19000,"));
    same(replaced(longText, bin, bin, "{\"id\":18999,"));
    same(replaced(longText, bin, "}", "} "));
    auto late = TransferJSON::decode(replaced(longText, bin, bin, "{\"id\":18999,"));
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error().description, "Trace 1 has two bins with id 18999.");
}

// The JSON library's compact dump of the traces as ordered objects: the form the file has always had.
std::string libraryText(const std::vector<TransferTrace>& traces) {
    Json expected = Json::array();
    for (const TransferTrace& trace : traces) {
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
    return expected.dump();
}

// The writer gives the JSON library's compact dump of the same objects, byte for byte.
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
    auto written = TransferJSON::encode({t, sampleTrace()});
    ASSERT_TRUE(written) << written.error().description;
    EXPECT_EQ(*written, libraryText({t, sampleTrace()}));
    auto back = TransferJSON::decode(*written);
    ASSERT_TRUE(back) << back.error().description;
    expectIdentical((*back)[0], t);
}

// A save hands the text to its file in pieces, in order, never the whole text at once, whether the pieces
// are made on the caller's thread or on several; a failure of the file, or a value that cannot be written,
// ends the writing with its own error, the first in the order of the text.
TEST(TransferJSON, WritesThroughTheSinkAPieceAtATime) {
    std::vector<TransferTrace> traces(3, sampleTrace());
    for (TransferTrace& t : traces) {
        t.bins.clear();
        for (int k = 1; k <= 6820; ++k)
            t.bins.push_back({k, 2.9296875 * k, std::cos(k) / 3, std::sin(k) / 7, 0.5 + 0.49 * std::sin(k)});
    }
    const std::string expected = libraryText(traces);
    std::vector<std::string> pieces;
    const auto keep = [&](std::string_view piece) -> Status {
        pieces.emplace_back(piece);
        return {};
    };
    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        pieces.clear();
        ASSERT_TRUE(TransferJSON::encode(traces, keep, threads));
        std::string joined;
        for (const std::string& piece : pieces) {
            EXPECT_LT(piece.size(), 1000000u);
            joined += piece;
        }
        EXPECT_GT(pieces.size(), 2u);
        EXPECT_EQ(joined, expected);

        const Error full{"posix", 28, "No space left on device"};
        int offered = 0;
        const Status failed = TransferJSON::encode(
            traces,
            [&](std::string_view) -> Status {
                ++offered;
                return full;
            },
            threads);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error(), full);
        EXPECT_EQ(offered, 1) << "nothing more is written after a failure";
    }

    // Found after the first pieces went out: the caller discards what it took.
    traces[1].bins[5000].real = std::numeric_limits<double>::infinity();
    traces[2].bins[0].imag = std::nan("");
    for (unsigned threads : {1u, 4u}) {
        pieces.clear();
        const Status refused = TransferJSON::encode(traces, keep, threads);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().description,
                  "Trace 2, bin 5001: \"real\" is not a finite number and cannot be written.");
        EXPECT_FALSE(pieces.empty());
    }
}

// The decoder reads its text a piece at a time: where the pieces end changes nothing, a failing source
// fails the decode with its own error, and a message quotes at most 60 characters of a value.
TEST(TransferJSON, ReadsPieceByPieceAndQuotesAtMostSixtyCharacters) {
    const auto inPieces = [](std::string_view text, std::size_t piece) {
        return TransferJSON::decode(
            [text, piece](char* into, std::size_t size) mutable -> Result<std::size_t> {
                const std::size_t n = std::min({size, piece, text.size()});
                std::memcpy(into, text.data(), n);
                text.remove_prefix(n);
                return n;
            });
    };
    TransferTrace second = sampleTrace();
    second.id = Uuid::generate();
    second.name = "with \"quotes\", [brackets] and {braces}";
    const std::string text = "\xEF\xBB\xBF" + TransferJSON::encode({sampleTrace(), second}).value();
    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7)}) {
        auto decoded = inPieces(text, piece);
        ASSERT_TRUE(decoded) << decoded.error().description;
        ASSERT_EQ(decoded->size(), 2u);
        expectIdentical((*decoded)[0], sampleTrace());
        EXPECT_EQ((*decoded)[1], second);
    }
    // Every cut of the text fails alike however it arrives.
    for (std::size_t end = 0; end + 1 < text.size(); end += 7)
        EXPECT_EQ(inPieces(text.substr(0, end), 1).error().description, decodeError(text.substr(0, end)))
            << end;

    const Error unreadable{"posix", 5, "Input/output error"};
    auto failed = TransferJSON::decode([&](char*, std::size_t) -> Result<std::size_t> { return unreadable; });
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), unreadable);

    Json j = validArray();
    j[0]["id"] = std::string(100000, 'F');
    EXPECT_EQ(decodeError(j.dump()),
              "Trace 1: \"id\" is not a valid UUID: \"" + std::string(60, 'F') + "\u2026\".");

    // Invalid JSON anywhere wins over a broken rule earlier, and the faults simdjson finds in the whole
    // text first (here bytes that are not UTF-8) win over one found earlier in it.
    j = validArray();
    j[0].erase("averages");
    j.push_back(validArray()[0]);
    j.push_back(validArray()[0]);
    EXPECT_EQ(decodeError(j.dump()), "Trace 1: the key \"averages\" is missing.");
    std::string later = j.dump();
    later.insert(later.size() - 1, ",{\"note\":tru}");
    EXPECT_EQ(decodeError(later),
              "The measurements are not valid JSON: Problem while parsing an atom "
              "starting with the letter 't'");
    later.insert(later.size() - 1, ",\"\xff\"");
    EXPECT_EQ(decodeError(later), "The measurements are not valid JSON: The input is not valid UTF-8");
    // A text that does not end with the "]" it began with is refused for that before any value is read.
    EXPECT_EQ(decodeError("[{\"note\":tru"),
              "The measurements are not valid JSON: The JSON document has an "
              "improper structure: missing or superfluous commas, braces, "
              "missing keys, etc.");
    EXPECT_EQ(decodeError("[" + std::string(1100, '[') + std::string(1100, ']') + "]"),
              "The measurements are not valid JSON: The JSON document was too deep (too many nested objects "
              "and arrays)");
}

}  // namespace quorvel
