#include "dsp/TransferJSON.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "dsp/QuorvelError.h"

namespace quorvel {

namespace {

constexpr long jsonErrorCode = 30;

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
// strings, and the key order of the records. The text is made and handed to the sink in parts of a few
// hundred kilobytes, so that a save holds a few parts besides the traces: the text of a long session runs
// to hundreds of megabytes. Nearly all the time goes into the shortest form of the doubles, so parts may
// be written on several threads.

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void raw(std::string_view text) { out_.append(text); }
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

// A run of the text of one trace: its bins [first, last), after the trace's opening when `first` is 0 and
// before its closing when `last` is its bin count. The parts of the traces in order make the whole text.
struct Part {
    std::size_t trace, first, last;
};

// Bins in a part: about 470 kB of text.
constexpr std::size_t partBins = 4096;

std::vector<Part> partsOf(const std::vector<TransferTrace>& traces) {
    std::vector<Part> parts;
    for (std::size_t t = 0; t < traces.size(); ++t) {
        const std::size_t bins = traces[t].bins.size();
        std::size_t first = 0;
        do {
            parts.push_back({t, first, std::min(first + partBins, bins)});
            first += partBins;
        } while (first < bins);
    }
    return parts;
}

// Appends the text of parts[index] to `out`, with the array's brackets around the first and the last.
// Throws CodingFailure for a number that is not finite and the JSON library's type_error for a string
// that is not valid UTF-8.
void writePart(std::string& out, const std::vector<TransferTrace>& traces, const std::vector<Part>& parts,
               std::size_t index) {
    Writer w(out);
    const Part& part = parts[index];
    const TransferTrace& trace = traces[part.trace];
    const Place place{part.trace};
    if (index == 0) w.raw("[");
    if (part.first == 0) {
        w.raw(part.trace ? ",{\"id\":" : "{\"id\":");
        w.string(trace.id.toString());
        w.raw(",\"name\":");
        w.string(trace.name);
        w.raw(",\"captured\":");
        w.number(trace.captured, place, "captured");
        w.raw(",\"sampleRate\":");
        w.number(trace.sampleRate, place, "sampleRate");
        w.raw(",\"compensationMS\":");
        w.number(trace.compensationMS, place, "compensationMS");
        w.raw(",\"arrivalMS\":");
        w.number(trace.arrivalMS, place, "arrivalMS");
        w.raw(",\"micChannel\":");
        w.integer(trace.micChannel);
        w.raw(",\"referenceChannel\":");
        w.integer(trace.referenceChannel);
        w.raw(",\"bins\":[");
    }
    for (std::size_t i = part.first; i < part.last; ++i) {
        const TransferBin& bin = trace.bins[i];
        const Place at{part.trace, i + 1};
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
    if (part.last == trace.bins.size()) {
        w.raw("],\"averages\":");
        w.integer(trace.averages);
        w.raw(",\"position\":");
        w.string(trace.position);
        w.raw(",\"setupID\":");
        w.string(trace.setupID);
        w.raw(",\"hardwareIdentity\":");
        w.string(trace.hardwareIdentity);
        w.raw("}");
    }
    if (index + 1 == parts.size()) w.raw("]");
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

Error noMemoryToWrite() {
    return QuorvelError::make(jsonErrorCode, "There is not enough memory to write the measurements.");
}

// writePart() with its failures as encode() reports them.
Status writePartOrFail(std::string& out, const std::vector<TransferTrace>& traces,
                       const std::vector<Part>& parts, std::size_t index) {
    try {
        writePart(out, traces, parts, index);
        return {};
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const nlohmann::json::exception& e) {
        // Only text that is not valid UTF-8 gets here.
        return QuorvelError::make(jsonErrorCode, "The traces cannot be written: " + libraryMessage(e));
    } catch (const std::bad_alloc&) {
        return noMemoryToWrite();
    }
}

// Writes the parts on threads of its own, in order of their index and at most two parts a thread ahead
// of the part the caller takes next, so that memory holds a few parts however long the text. The caller
// takes every part in order, on its own thread. Stops the threads when it goes.
class PartWriters {
public:
    // Starts up to `threads` threads; fewer (none) when the system refuses more.
    PartWriters(const std::vector<TransferTrace>& traces, const std::vector<Part>& parts, unsigned threads)
        : traces_(traces), parts_(parts), slots_(2 * std::size_t{threads}) {
        try {
            threads_.reserve(threads);
            for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
        } catch (const std::exception&) {
            // Those that started do the work.
        }
    }
    ~PartWriters() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    PartWriters(const PartWriters&) = delete;
    PartWriters& operator=(const PartWriters&) = delete;

    bool started() const { return !threads_.empty(); }

    // Replaces `text` with the text of part `index`, the next in order, once it is written.
    Status take(std::size_t index, std::string& text) {
        std::unique_lock<std::mutex> hold(mutex_);
        Slot& slot = slots_[index % slots_.size()];
        changed_.wait(hold, [&slot] { return slot.written; });
        text.swap(slot.text);
        const Status status = std::exchange(slot.status, Status());
        slot.written = false;
        taken_ = index + 1;
        hold.unlock();
        changed_.notify_all();
        return status;
    }

private:
    struct Slot {
        std::string text;
        Status status;
        bool written = false;
    };

    void run() {
        std::string text;
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> hold(mutex_);
                changed_.wait(hold, [this] {
                    return stopping_ || next_ == parts_.size() || next_ < taken_ + slots_.size();
                });
                if (stopping_ || next_ == parts_.size()) return;
                index = next_++;
            }
            text.clear();
            Status status = writePartOrFail(text, traces_, parts_, index);
            {
                std::lock_guard<std::mutex> hold(mutex_);
                Slot& slot = slots_[index % slots_.size()];
                slot.text.swap(text);
                slot.status = std::move(status);
                slot.written = true;
            }
            changed_.notify_all();
        }
    }

    const std::vector<TransferTrace>& traces_;
    const std::vector<Part>& parts_;
    std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    std::vector<Slot> slots_;  // part i in slot i % size, from its writing until it is taken
    std::size_t next_ = 0;     // the next part to write
    std::size_t taken_ = 0;    // parts taken by the caller
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// --- Reading ---
//
// The text is read in pieces and decoded trace by trace, so that a load takes little more memory than
// the traces it brings, however large the file. A trace in the writer's own form, as every file this
// program saved holds, is read in one pass as its text comes (see writersTrace()). Any other trace takes
// the full reading: the top-level array is split into its elements here, a trace's members are walked
// here, and simdjson parses the values, the bins in runs of about a megabyte. Every value is still checked
// to be JSON before anything is accepted (values under unknown keys included), a key given twice counts
// with its last value, and a fault in the JSON anywhere in the file is reported before a trace that
// breaks a rule of the format, as when the whole document was parsed at once.

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
    // Written only for a failure: every bin has an id.
    const auto mustBe = [&](const std::string& rest) {
        return CodingFailure{place.text() + ": " + inQuotes(key) + " must be a whole number" + rest};
    };
    switch (value.type()) {
        case element_type::INT64: {
            const std::int64_t number = value.get_int64().value_unsafe();
            if (number < low || number > high) throw mustBe(" within range.");
            return static_cast<int>(number);
        }
        case element_type::UINT64:
            throw mustBe(" within range.");
        case element_type::DOUBLE: {
            const double number = value.get_double().value_unsafe();
            if (!std::isfinite(number) || std::trunc(number) != number)
                throw mustBe(", not " + simdjson::minify(value) + ".");
            if (number < static_cast<double>(low) || number > static_cast<double>(high))
                throw mustBe(" within range.");
            return static_cast<int>(number);
        }
        default:
            throw mustBe(".");
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

// Thrown where the text is not JSON, with simdjson's code for the fault; caught in decode().
struct SyntaxFailure {
    simdjson::error_code code;
};

// Thrown when the source fails, with its error; caught in decode().
struct ReadFailure {
    Error error;
};

[[noreturn]] void notJson(simdjson::error_code code = simdjson::TAPE_ERROR) { throw SyntaxFailure{code}; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Where a scalar's text ends (a number or a literal; whether it is one is simdjson's to say). A quote
// always starts a string here, as it does for simdjson, so that both see the same strings.
bool endsScalar(char c) { return isSpace(c) || c == ',' || c == ']' || c == '}' || c == ':' || c == '"'; }

// The bytes that matter when looking for where a value ends, outside strings.
constexpr std::array<bool, 256> markers = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : std::string_view("\"[]{}")) table[c] = true;
    return table;
}();

// The position of the next quote or bracket in `text` from `at`, or its size.
std::size_t skipOutside(std::string_view text, std::size_t at) {
    while (at < text.size() && !markers[static_cast<unsigned char>(text[at])]) ++at;
    return at;
}

// The position of the next quote or backslash in `text` from `at`, or its size.
std::size_t skipInString(std::string_view text, std::size_t at) {
    while (at < text.size() && text[at] != '"' && text[at] != '\\') ++at;
    return at;
}

// Text parsed in one go: a run of bins, or of elements that are only checked. A larger single value is
// parsed whole.
constexpr std::size_t runBytes = std::size_t{1} << 20;
// What the source is asked for at a time.
constexpr std::size_t pieceBytes = std::size_t{1} << 20;
// simdjson's nesting limit, the top-level array counting as the first level.
constexpr std::size_t maxDepth = simdjson::DEFAULT_MAX_DEPTH;

// Parses parts of the text as documents of their own with one parser, reused. A part is copied in front
// of simdjson's padding, between `open` and `close` when given (a run of array elements becomes an
// array). Throws SyntaxFailure for what is not JSON. The element returned lives until the next parse.
class Parts {
public:
    element parse(std::string_view text, char open = 0, char close = 0) {
        const std::size_t size = text.size() + (open ? 2 : 0);
        if (buffer_.size() < size + simdjson::SIMDJSON_PADDING)
            buffer_.resize(size + simdjson::SIMDJSON_PADDING);
        char* at = buffer_.data();
        if (open) *at++ = open;
        if (!text.empty()) std::memcpy(at, text.data(), text.size());
        if (open) at[text.size()] = close;
        element value;
        if (const simdjson::error_code error = parser_.parse(buffer_.data(), size, false).get(value))
            notJson(error);
        return value;
    }

private:
    simdjson::dom::parser parser_;
    std::vector<char> buffer_;
};

// The end of the string whose text starts at `at` (past its opening quote): just past the closing quote.
const char* stringEnd(const char* at, const char* end) {
    for (;;) {
        at += skipInString({at, static_cast<std::size_t>(end - at)}, 0);
        if (at == end) notJson(simdjson::UNCLOSED_STRING);
        if (*at == '"') return at + 1;
        if (end - at < 2) notJson(simdjson::UNCLOSED_STRING);
        at += 2;  // the backslash and the character it escapes
    }
}

// A reading position in the text of one element, which the top level has found complete.
struct Cursor {
    const char* at;
    const char* end;

    void space() {
        while (at < end && isSpace(*at)) ++at;
    }
    // Whether `c` comes next after space, which is skipped.
    bool next(char c) {
        space();
        return at < end && *at == c;
    }
    // Takes `c` when it comes next after space.
    bool take(char c) {
        if (!next(c)) return false;
        ++at;
        return true;
    }
    void expect(char c) {
        if (!take(c)) notJson();
    }
    // Skips space and the value after it, and returns the value's text. Only where the value ends is
    // found here.
    std::string_view value() {
        space();
        const char* const start = at;
        if (at == end) notJson();
        switch (*at) {
            case '"':
                at = stringEnd(at + 1, end);
                break;
            case '[':
            case '{': {
                const std::string_view text(at, static_cast<std::size_t>(end - at));
                std::size_t depth = 0, i = 0;
                do {
                    const char c = text[i++];
                    if (c == '"')
                        i = static_cast<std::size_t>(stringEnd(at + i, end) - at);
                    else if (c == '[' || c == '{')
                        ++depth;
                    else if (c == ']' || c == '}')
                        --depth;
                    if (depth > 0) i = skipOutside(text, i);
                } while (depth > 0 && i < text.size());
                if (depth > 0) notJson();
                at += i;
                break;
            }
            case ',':
            case ':':
            case ']':
            case '}':
                notJson();
            default:
                while (at < end && !endsScalar(*at)) ++at;
        }
        return {start, static_cast<std::size_t>(at - start)};
    }
};

// The text as the source hands it over, a piece at a time, without a leading byte-order mark (which
// some editors add, and which is no part of the JSON). The text taken is let go as more is read, except
// from a mark on, which a reader may return to.
class Input {
public:
    explicit Input(const TransferJSON::Source& source) : source_(source), buffer_(pieceBytes) {
        while (size_ < 3 && !ended_) read();
        if (std::string_view(buffer_.data(), size_).substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    }
    // The bytes read and not yet taken; empty once the text has ended.
    std::string_view available() {
        if (at_ == size_ && !ended_) readOn();
        return {buffer_.data() + at_, size_ - at_};
    }
    // At least `n` bytes from the reading position in one piece: fewer only where the text ends.
    std::string_view window(std::size_t n) {
        while (size_ - at_ < n && !ended_) readOn();
        return {buffer_.data() + at_, size_ - at_};
    }
    void advance(std::size_t n) { at_ += n; }

    // Keeps the text from the reading position on until rewind() returns to it or release() lets it go.
    void mark() { mark_ = at_; }
    void rewind() { at_ = *std::exchange(mark_, std::nullopt); }
    void release() { mark_.reset(); }

    // The last byte of the text read so far that is not space; 0 before there is one.
    char lastNonSpace() const { return lastNonSpace_; }

private:
    // Lets go of what is taken and not marked, and reads the next piece after what is kept.
    void readOn() {
        const std::size_t keep = mark_ ? *mark_ : at_;
        if (keep > 0) {
            std::memmove(buffer_.data(), buffer_.data() + keep, size_ - keep);
            size_ -= keep;
            at_ -= keep;
            if (mark_) mark_ = 0;
        }
        if (buffer_.size() - size_ < pieceBytes) buffer_.resize(size_ + pieceBytes);
        read();
    }

    void read() {
        const std::size_t room = buffer_.size() - size_;
        auto got = source_(buffer_.data() + size_, room);
        if (!got) throw ReadFailure{got.error()};
        const std::size_t n = std::min(*got, room);
        ended_ = *got == 0;
        for (std::size_t at = size_ + n; at > size_; --at) {
            if (!isSpace(buffer_[at - 1])) {
                lastNonSpace_ = buffer_[at - 1];
                break;
            }
        }
        size_ += n;
    }

    const TransferJSON::Source& source_;
    std::vector<char> buffer_;
    std::size_t at_ = 0, size_ = 0;
    std::optional<std::size_t> mark_;
    bool ended_ = false;
    char lastNonSpace_ = 0;
};

// --- The writer's own form, read in one pass ---
//
// A file this writer wrote is compact, with its keys in the writer's order, strings without escapes and
// numbers in their shortest form. Such a trace is read here as the text comes, in one pass and without a
// parser: what this reads is JSON, and gives the values the full reading below gives. Anything else here
// (space, another key order, an escape, a number this leaves to the parser, a value that breaks a rule)
// sends the trace to the full reading from its start, which reads it or says what is wrong with it in
// its own words.

// Takes `text` when it comes next.
bool literal(const char*& p, const char* end, std::string_view text) {
    if (static_cast<std::size_t>(end - p) < text.size() || std::memcmp(p, text.data(), text.size()) != 0)
        return false;
    p += text.size();
    return true;
}

// A string without escapes or control characters, in UTF-8.
bool plainString(const char*& p, const char* end, std::string_view& out) {
    if (p == end || *p != '"') return false;
    const char* const start = ++p;
    bool ascii = true;
    for (; p < end && *p != '"'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\' || c < 0x20) return false;
        ascii = ascii && c < 0x80;
    }
    if (p == end) return false;
    out = {start, static_cast<std::size_t>(p - start)};
    ++p;
    return ascii || simdjson::validate_utf8(out.data(), out.size());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A JSON number that ends at one of the writer's delimiters (',' '}' ']'), read as simdjson reads it: the
// form of an integer as a 64-bit integer, any other form to the nearest double. `integral` tells which.
// Leaves integers of more than 18 digits and values out of a double's range to the parser.
bool jsonNumber(const char*& p, const char* end, double& out, bool& integral) {
    const char* const start = p;
    if (p < end && *p == '-') ++p;
    if (p == end) return false;
    if (*p == '0') {
        ++p;
    } else if (*p >= '1' && *p <= '9') {
        while (p < end && isDigit(*p)) ++p;
    } else {
        return false;
    }
    integral = true;
    if (p < end && *p == '.') {
        integral = false;
        if (++p == end || !isDigit(*p)) return false;
        while (p < end && isDigit(*p)) ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        integral = false;
        if (++p < end && (*p == '+' || *p == '-')) ++p;
        if (p == end || !isDigit(*p)) return false;
        while (p < end && isDigit(*p)) ++p;
    }
    if (p == end || (*p != ',' && *p != '}' && *p != ']')) return false;
    if (integral) {
        if (p - start - (*start == '-') > 18) return false;
        std::int64_t whole = 0;
        const auto [at, error] = std::from_chars(start, p, whole);
        if (error != std::errc() || at != p) return false;
        out = static_cast<double>(whole);
        return true;
    }
    const auto [at, error] = std::from_chars(start, p, out);
    return error == std::errc() && at == p && std::isfinite(out);
}

bool jsonDouble(const char*& p, const char* end, double& out) {
    bool integral = false;
    return jsonNumber(p, end, out, integral);
}

// A JSON integer (no fraction or exponent) that fits an int.
bool jsonInt(const char*& p, const char* end, int& out) {
    double number = 0;
    bool integral = false;
    if (!jsonNumber(p, end, number, integral) || !integral) return false;
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) return false;
    out = static_cast<int>(number);
    return true;
}

// Room for the longest bin, or trace key and value, the writer's form reads in one window; a value
// longer than this sends its trace to the full reading.
constexpr std::size_t windowBytes = std::size_t{64} << 10;
// A bin as the writer writes it is about a hundred bytes; one this long is not in its form.
constexpr std::size_t binRoom = 1024;

// The last "bins" of a trace, read as it came.
struct Bins {
    bool array = true;
    std::vector<TransferBin> list;
    std::optional<std::string> fault;  // the first bin that breaks a rule, which fails the trace
};

// Reads the top-level array one element at a time. Once a trace breaks a rule of the format, the rest
// is only checked to be JSON, so that a fault in the JSON further on is what the decode reports.
class Decoder {
public:
    explicit Decoder(const TransferJSON::Source& source) : input_(source) {}

    std::vector<TransferTrace> run() {
        if (peek() != '[') notAnArray();
        input_.advance(1);
        try {
            readArray();
        } catch (const SyntaxFailure& failure) {
            if (failure.code == simdjson::MEMALLOC) throw;
            notJson(asWholeDocument(failure.code));
        }
        if (fault_) throw CodingFailure{*fault_};
        return std::move(traces_);
    }

private:
    // The elements of the top-level array, whose "[" has been taken, and what follows it.
    void readArray() {
        if (peek() == ']') {
            input_.advance(1);
        } else {
            for (std::size_t index = 0;; ++index) {
                const int first = peek();
                if (first < 0 || first == ',' || first == ']' || first == '}' || first == ':') notJson();
                if (fault_ || first != '{' || !writersTrace(index)) {
                    readElement();
                    take(index);
                }
                const int after = peek();
                if (after != ',' && after != ']') notJson();
                input_.advance(1);
                if (after == ']') break;
            }
        }
        if (peek() >= 0) notJson();
        checkUnchecked();
    }

    // The fault that simdjson reports for the whole text, given `found` here. Before it reads any value,
    // it checks the whole text for a string left open, then for a control character inside a string,
    // then for bytes that are not UTF-8, and then that the text ends as it began, with "]"; after those,
    // the first fault in the text counts. The text before the elements still to be checked has been
    // parsed without a fault.
    simdjson::error_code asWholeDocument(simdjson::error_code found) {
        const std::array<simdjson::error_code, 4> inOrder = {faultOf(unchecked_), faultOf(element_), found,
                                                             firstPass()};
        for (const simdjson::error_code first :
             {simdjson::UNCLOSED_STRING, simdjson::UNESCAPED_CHARS, simdjson::UTF8_ERROR})
            if (std::find(inOrder.begin(), inOrder.end(), first) != inOrder.end()) return first;
        if (input_.lastNonSpace() != ']') return simdjson::TAPE_ERROR;
        for (const simdjson::error_code first : inOrder)
            if (first != simdjson::SUCCESS) return first;
        return found;
    }

    // What simdjson says of these elements, or of this part of one, as an array.
    simdjson::error_code faultOf(const std::string& elements) {
        if (elements.empty()) return simdjson::SUCCESS;
        try {
            parts_.parse(elements, '[', ']');
        } catch (const SyntaxFailure& failure) {
            if (failure.code != simdjson::MEMALLOC) return failure.code;
        }
        return simdjson::SUCCESS;
    }

    // Reads the rest of the text, which starts outside a string, as simdjson's first pass does.
    simdjson::error_code firstPass() {
        bool inString = false, escaped = false, control = false, utf8 = true;
        std::string cut;  // a piece's last character when the piece ends inside it, and what follows
        for (std::string_view rest; !(rest = input_.available()).empty(); input_.advance(rest.size())) {
            for (const char c : rest) {
                if (!inString) {
                    inString = c == '"';
                } else if (escaped) {
                    escaped = false;
                } else if (c == '\\') {
                    escaped = true;
                } else if (c == '"') {
                    inString = false;
                } else if (static_cast<unsigned char>(c) < 0x20) {
                    control = true;
                }
            }
            cut.append(rest);
            const std::size_t whole = wholeCharacters(cut);
            utf8 = utf8 && simdjson::validate_utf8(cut.data(), whole);
            cut.erase(0, whole);
        }
        if (inString) return simdjson::UNCLOSED_STRING;
        if (control) return simdjson::UNESCAPED_CHARS;
        if (!utf8 || !cut.empty()) return simdjson::UTF8_ERROR;
        return simdjson::SUCCESS;
    }

    // The length of `text` without a UTF-8 character that its end cuts short.
    static std::size_t wholeCharacters(std::string_view text) {
        for (std::size_t back = 1; back <= std::min<std::size_t>(3, text.size()); ++back) {
            const auto byte = static_cast<unsigned char>(text[text.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return length > back ? text.size() - back : text.size();
        }
        return text.size();
    }

    // Skips space and returns the next byte without taking it; -1 at the end of the text.
    int peek() {
        for (;;) {
            const std::string_view rest = input_.available();
            if (rest.empty()) return -1;
            std::size_t i = 0;
            while (i < rest.size() && isSpace(rest[i])) ++i;
            input_.advance(i);
            if (i < rest.size()) return static_cast<unsigned char>(rest[i]);
        }
    }

    // A text that does not start as an array: not JSON, or JSON of another shape.
    [[noreturn]] void notAnArray() {
        std::string text;
        for (std::string_view rest; !(rest = input_.available()).empty(); input_.advance(rest.size()))
            text.append(rest);
        parts_.parse(text);
        throw CodingFailure{"The measurements are not a JSON array of traces."};
    }

    // Reads the element that starts at the next byte into element_, up to its end: the closing bracket
    // or quote that matches its first, or what follows a number or a literal.
    void readElement() {
        element_.clear();
        const char first = input_.available().front();
        const bool scalar = first != '[' && first != '{' && first != '"';
        std::size_t depth = 0;
        bool inString = false, escaped = false;
        for (bool done = false; !done;) {
            const std::string_view rest = input_.available();
            if (rest.empty()) notJson(inString ? simdjson::UNCLOSED_STRING : simdjson::TAPE_ERROR);
            std::size_t i = 0;
            if (scalar) {
                while (i < rest.size() && !endsScalar(rest[i])) ++i;
                done = i < rest.size();
                // A number or literal with a quote right after it: simdjson finds it spoilt by a stray
                // character, as it would any other.
                if (done && rest[i] == '"') {
                    element_.append(rest.data(), i);
                    const simdjson::error_code spoilt = faultOf(element_ + "x");
                    notJson(spoilt ? spoilt : simdjson::TAPE_ERROR);
                }
            } else {
                while (i < rest.size() && !done) {
                    if (escaped) {
                        escaped = false;
                        ++i;
                        continue;
                    }
                    i = inString ? skipInString(rest, i) : skipOutside(rest, i);
                    if (i == rest.size()) break;
                    const char c = rest[i++];
                    if (inString) {
                        escaped = c == '\\';
                        inString = c != '"';
                        done = !inString && depth == 0;
                    } else if (c == '"') {
                        inString = true;
                    } else if (c == '[' || c == '{') {
                        if (++depth >= maxDepth) notJson(simdjson::DEPTH_ERROR);
                    } else if (c == ']' || c == '}') {
                        done = --depth == 0;
                    }
                }
            }
            element_.append(rest.data(), i);
            input_.advance(i);
        }
    }

    // Reads trace `index`, which starts at the reading position, when it is in the writer's own form, and
    // appends it; leaves the reading position where it was otherwise.
    bool writersTrace(std::size_t index) {
        input_.mark();
        std::optional<TransferTrace> trace = writersForm();
        if (trace) {
            try {
                requireUniqueIds(trace->bins, Place{index});
            } catch (const CodingFailure&) {
                trace.reset();  // the full reading says so
            }
        }
        if (!trace) {
            input_.rewind();
            return false;
        }
        input_.release();
        traces_.push_back(std::move(*trace));
        element_.clear();  // no element of the full reading is open
        return true;
    }

    std::optional<TransferTrace> writersForm() {
        TransferTrace trace;
        std::string_view view = input_.window(windowBytes);
        const char* p = view.data();
        const char* end = p + view.size();
        std::string_view id, text;
        if (!literal(p, end, "{\"id\":") || !plainString(p, end, id)) return std::nullopt;
        const std::optional<Uuid> uuid = Uuid::parse(id);
        if (!uuid) return std::nullopt;
        trace.id = *uuid;
        if (!literal(p, end, ",\"name\":") || !plainString(p, end, text)) return std::nullopt;
        trace.name = text;
        if (!literal(p, end, ",\"captured\":") || !jsonDouble(p, end, trace.captured) ||
            !literal(p, end, ",\"sampleRate\":") || !jsonDouble(p, end, trace.sampleRate) ||
            !literal(p, end, ",\"compensationMS\":") || !jsonDouble(p, end, trace.compensationMS) ||
            !literal(p, end, ",\"arrivalMS\":") || !jsonDouble(p, end, trace.arrivalMS) ||
            !literal(p, end, ",\"micChannel\":") || !jsonInt(p, end, trace.micChannel) ||
            !literal(p, end, ",\"referenceChannel\":") || !jsonInt(p, end, trace.referenceChannel) ||
            !literal(p, end, ",\"bins\":["))
            return std::nullopt;
        input_.advance(static_cast<std::size_t>(p - view.data()));

        // The bins, a window at a time.
        bool more = !literal(p, end, "]");
        if (!more) input_.advance(1);
        while (more) {
            view = input_.window(windowBytes);
            p = view.data();
            end = p + view.size();
            const char* const last = view.size() < windowBytes ? end : end - binRoom;
            while (more && p < last) {
                TransferBin& bin = trace.bins.emplace_back();
                if (!literal(p, end, "{\"id\":") || !jsonInt(p, end, bin.id) ||
                    !literal(p, end, ",\"hz\":") || !jsonDouble(p, end, bin.hz) ||
                    !literal(p, end, ",\"real\":") || !jsonDouble(p, end, bin.real) ||
                    !literal(p, end, ",\"imag\":") || !jsonDouble(p, end, bin.imag) ||
                    !literal(p, end, ",\"coherence\":") || !jsonDouble(p, end, bin.coherence) ||
                    !literal(p, end, "}"))
                    return std::nullopt;
                more = literal(p, end, ",");
                if (!more && !literal(p, end, "]")) return std::nullopt;
            }
            if (more && p == view.data()) return std::nullopt;  // the text ended in the bins
            input_.advance(static_cast<std::size_t>(p - view.data()));
        }
        trace.bins.shrink_to_fit();

        view = input_.window(windowBytes);
        p = view.data();
        end = p + view.size();
        if (!literal(p, end, ",\"averages\":") || !jsonInt(p, end, trace.averages) ||
            !literal(p, end, ",\"position\":") || !plainString(p, end, text))
            return std::nullopt;
        trace.position = text;
        if (!literal(p, end, ",\"setupID\":") || !plainString(p, end, text)) return std::nullopt;
        trace.setupID = text;
        if (!literal(p, end, ",\"hardwareIdentity\":") || !plainString(p, end, text) || !literal(p, end, "}"))
            return std::nullopt;
        trace.hardwareIdentity = text;
        input_.advance(static_cast<std::size_t>(p - view.data()));
        return trace;
    }

    // Decodes the element read as trace `index`, or only checks it once a trace has broken a rule.
    void take(std::size_t index) {
        if (!fault_) {
            if (element_.front() == '{') {
                try {
                    traces_.push_back(trace(index));
                } catch (const CodingFailure& failure) {
                    fault_ = failure.description;  // found once the walk had checked the whole trace
                    traces_ = {};
                }
                return;
            }
            fault_ = Place{index}.text() + " must be an object.";
            traces_ = {};
        }
        if (unchecked_.empty() && element_.size() >= runBytes) {
            parts_.parse(element_, '[', ']');
            return;
        }
        if (!unchecked_.empty()) unchecked_ += ',';
        unchecked_ += element_;
        if (unchecked_.size() >= runBytes) checkUnchecked();
    }

    void checkUnchecked() {
        if (!unchecked_.empty()) parts_.parse(unchecked_, '[', ']');
        unchecked_.clear();
    }

    // The position in traceKeys of the key whose text (quotes included) is `text`; traceKeys.size() for
    // a key the format does not know.
    std::size_t keyIndex(std::string_view text) {
        std::string_view key = text.substr(1, text.size() - 2);
        // Printable ASCII without escapes reads as it stands; anything else goes through the parser,
        // which also checks it.
        const bool plain =
            std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
        if (!plain && parts_.parse(text).get_string().get(key) != simdjson::SUCCESS) notJson();
        return static_cast<std::size_t>(std::find(traceKeys.begin(), traceKeys.end(), key) -
                                        traceKeys.begin());
    }

    // Walks the trace in element_: every member's value is checked to be JSON as it comes, the bins are
    // read at once, and the rest is read from the last text of each known key once the object has ended,
    // in the order of the format, so that the first rule broken is the one reported.
    TransferTrace trace(std::size_t index) {
        constexpr std::size_t binsKey = 8;
        static_assert(traceKeys[binsKey] == "bins");
        const Place place{index};
        std::array<std::optional<std::string_view>, traceKeys.size()> values;
        std::optional<Bins> bins;
        Cursor c{element_.data(), element_.data() + element_.size()};
        c.expect('{');
        if (!c.take('}')) {
            do {
                if (!c.next('"')) notJson();
                const std::size_t key = keyIndex(c.value());
                c.expect(':');
                if (key == binsKey) {
                    bins = readBins(c, index);
                    continue;
                }
                const std::string_view value = c.value();
                parts_.parse(value);
                if (key < values.size()) values[key] = value;
            } while (c.take(','));
            c.expect('}');
        }
        c.space();
        if (c.at != c.end) notJson();

        const auto at = [&](std::size_t i) {
            if (!values[i])
                throw CodingFailure{place.text() + ": the key " + inQuotes(traceKeys[i]) + " is missing."};
            return parts_.parse(*values[i]);
        };
        TransferTrace trace;
        const std::string idText = readString(at(0), "id", place);
        const std::optional<Uuid> id = Uuid::parse(idText);
        if (!id)
            throw CodingFailure{place.text() +
                                ": \"id\" is not a valid UUID: " + inQuotes(shortForMessage(idText)) + "."};
        trace.id = *id;
        trace.name = readString(at(1), "name", place);
        trace.captured = readDouble(at(2), "captured", place);
        trace.sampleRate = readDouble(at(3), "sampleRate", place);
        trace.compensationMS = readDouble(at(4), "compensationMS", place);
        trace.arrivalMS = readDouble(at(5), "arrivalMS", place);
        trace.micChannel = readInt(at(6), "micChannel", place);
        trace.referenceChannel = readInt(at(7), "referenceChannel", place);
        if (!bins) throw CodingFailure{place.text() + ": the key \"bins\" is missing."};
        if (!bins->array) throw CodingFailure{place.text() + ": \"bins\" must be an array."};
        if (bins->fault) throw CodingFailure{*bins->fault};
        trace.bins = std::move(bins->list);
        requireUniqueIds(trace.bins, place);
        trace.averages = readInt(at(9), "averages", place);
        trace.position = readString(at(10), "position", place);
        trace.setupID = readString(at(11), "setupID", place);
        trace.hardwareIdentity = readString(at(12), "hardwareIdentity", place);
        return trace;
    }

    // Reads the value of "bins" at the cursor: an array is parsed in runs of bins, each bin read as it
    // comes until one breaks a rule; any other value is only checked.
    Bins readBins(Cursor& c, std::size_t index) {
        Bins bins;
        if (!c.next('[')) {
            parts_.parse(c.value());
            bins.array = false;
            return bins;
        }
        ++c.at;
        if (c.take(']')) return bins;
        const char* run = nullptr;
        const auto readRun = [&](const char* end) {
            simdjson::dom::array list;
            if (parts_.parse({run, static_cast<std::size_t>(end - run)}, '[', ']').get_array().get(list))
                notJson();
            for (const element bin : list) {
                if (bins.fault) break;
                try {
                    bins.list.push_back(readBin(bin, {index, bins.list.size() + 1}));
                } catch (const CodingFailure& failure) {
                    bins.fault = failure.description;
                    bins.list = {};
                }
            }
            run = nullptr;
        };
        do {
            c.space();
            if (!run) run = c.at;
            c.value();
            if (static_cast<std::size_t>(c.at - run) >= runBytes) readRun(c.at);
        } while (c.take(','));
        const char* const last = c.at;
        c.expect(']');
        if (run) readRun(last);
        bins.list.shrink_to_fit();
        return bins;
    }

    Input input_;
    Parts parts_;
    std::string element_;                // the element being decoded
    std::string unchecked_;              // elements still to be checked, joined by commas
    std::optional<std::string> fault_;   // the first rule broken
    std::vector<TransferTrace> traces_;  // read so far, while no rule is broken
};

Error outOfMemory() {
    return QuorvelError::make(jsonErrorCode, "There is not enough memory to read the measurements.");
}

}  // namespace

namespace TransferJSON {

Status encode(const std::vector<TransferTrace>& traces, const Sink& sink, unsigned threads) {
    if (traces.empty()) return sink("[]");
    std::optional<std::vector<Part>> parts;
    std::optional<PartWriters> writers;
    try {
        parts = partsOf(traces);
        if (threads > 1 && parts->size() > 1) writers.emplace(traces, *parts, threads);
    } catch (const std::bad_alloc&) {
        return noMemoryToWrite();
    }
    if (writers && !writers->started()) writers.reset();
    std::string text;
    for (std::size_t i = 0; i < parts->size(); ++i) {
        text.clear();
        const Status written = writers ? writers->take(i, text) : writePartOrFail(text, traces, *parts, i);
        if (!written) return written;
        if (Status taken = sink(text); !taken) return taken;
    }
    return {};
}

Result<std::string> encode(const std::vector<TransferTrace>& traces) {
    std::string text;
    try {
        const Status written = encode(traces, [&text](std::string_view piece) -> Status {
            text.append(piece);
            return {};
        });
        if (!written) return written.error();
    } catch (const std::bad_alloc&) {
        return noMemoryToWrite();
    }
    return text;
}

Result<std::vector<TransferTrace>> decode(const Source& source) {
    try {
        return Decoder(source).run();
    } catch (const SyntaxFailure& failure) {
        if (failure.code == simdjson::MEMALLOC) return outOfMemory();
        return QuorvelError::make(jsonErrorCode, std::string("The measurements are not valid JSON: ") +
                                                     simdjson::error_message(failure.code));
    } catch (const CodingFailure& failure) {
        return QuorvelError::make(jsonErrorCode, failure.description);
    } catch (const ReadFailure& failure) {
        return failure.error;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

Result<std::vector<TransferTrace>> decode(std::string_view text) {
    return decode([&text](char* into, std::size_t size) -> Result<std::size_t> {
        const std::size_t n = std::min(size, text.size());
        if (n) std::memcpy(into, text.data(), n);
        text.remove_prefix(n);
        return n;
    });
}

}  // namespace TransferJSON

}  // namespace quorvel
