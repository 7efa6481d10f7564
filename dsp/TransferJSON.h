#pragma once
// The JSON form of transfer traces, the record format of the measurements file: an array of trace
// objects, compact, keys in field order, UUIDs upper-case, `captured` as seconds since 2001-01-01 UTC.
// Stateless; any thread. Errors are in the domain "Quorvel" with code 30 and say which trace, bin and
// key failed.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/TransferTypes.h"
#include "platform/Result.h"

namespace quorvel {

namespace TransferJSON {

// Takes the text in pieces, in order; a failure ends the writing with that error as it stands.
using Sink = std::function<Status(std::string_view piece)>;

// Writes the traces as one JSON array, handing the text to `sink` in pieces of a few hundred kilobytes,
// so that besides the traces the writing holds a few pieces. Every double is written so that it reads
// back to the same bits, in the shortest form that does. With `threads` above 1 the pieces are made on up
// to that many threads of its own, started and ended within the call; the sink is called on the caller's
// thread, in order, and the text is the same.
// Fails on a number that is not finite, a string that is not valid UTF-8, or a failure of the sink, the
// first in the order of the text. The sink may have taken part of the text by then: the caller discards
// it.
Status encode(const std::vector<TransferTrace>& traces, const Sink& sink, unsigned threads = 1);
// The same text as one string; fails, returning nothing, as above.
Result<std::string> encode(const std::vector<TransferTrace>& traces);

// Hands the text over in pieces: copies up to `size` bytes into `into` and returns how many, 0 once the
// text has ended; or fails, and the decode fails with that error as it stands.
using Source = std::function<Result<std::size_t>(char* into, std::size_t size)>;

// Reads a JSON array of traces. Fails as a whole, with nothing returned, on invalid JSON, a missing key
// (every trace and bin key is required; the type's defaults never fill one in), a value of the wrong
// type, a number that is not finite, a non-integral or out-of-range value for an integer field, a UUID
// that does not parse, or two bins of one trace with the same id (bins are paired by id, so a trace
// must not hold two). Keys it does not know are ignored; key order does not matter; a key given twice
// counts with its last value. Invalid JSON anywhere is reported before a broken rule; a message quotes
// at most 60 characters of a value. Running out of memory is a failure like any other.
// Memory: the text is read a piece at a time and decoded trace by trace, so that besides the traces it
// returns a decode holds one trace's text and a few megabytes (more only for a single value larger than
// that, which no writer of the format makes).
Result<std::vector<TransferTrace>> decode(const Source& source);
Result<std::vector<TransferTrace>> decode(std::string_view text);

}  // namespace TransferJSON

}  // namespace quorvel
