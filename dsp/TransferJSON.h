#pragma once
// The JSON form of transfer traces, the record format of the measurements file: an array of trace
// objects, compact, keys in field order, UUIDs upper-case, `captured` as seconds since 2001-01-01 UTC.
// Stateless; any thread. Errors are in the domain "Quorvel" with code 30 and say which trace, bin and
// key failed.
#include <string>
#include <string_view>
#include <vector>

#include "dsp/TransferTypes.h"
#include "platform/Result.h"

namespace quorvel {

namespace TransferJSON {

// Writes the traces as one JSON array. Every double is written so that it reads back to the same bits,
// in the shortest form that does.
// Fails, writing nothing, on a number that is not finite or a string that is not valid UTF-8.
Result<std::string> encode(const std::vector<TransferTrace>& traces);

// Bytes past the end of the text that decode() may read when told the buffer holds them (it then needs
// no copy of a large file). Their content does not matter.
inline constexpr std::size_t readAhead = 64;

// Reads a JSON array of traces. Fails as a whole, with nothing returned, on invalid JSON, a missing key
// (every trace and bin key is required; the type's defaults never fill one in), a value of the wrong
// type, a number that is not finite, a non-integral or out-of-range value for an integer field, a UUID
// that does not parse, or two bins of one trace with the same id (bins are paired by id, so a trace
// must not hold two). Keys it does not know are ignored; key order does not matter; a key given twice
// counts with its last value. Running out of memory is a failure like any other. `padded`: readAhead
// readable bytes follow `text`.
Result<std::vector<TransferTrace>> decode(std::string_view text, bool padded = false);

}  // namespace TransferJSON

}  // namespace quorvel
