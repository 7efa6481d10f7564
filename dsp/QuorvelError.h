#pragma once
// The system's own error values: domain "Quorvel", a code and a user-readable message.
//   1  speech buffer format            (voice renderer)
//   2  channel count of file processing
//   10 signal values                   (signal renderer)
//   11 filter or level values of file processing
//   12 sample rate of signal rendering
//   20 playlist without tracks         (music import)
//   30 JSON form of transfer traces
//   31 FFT length
#include <string>

#include "platform/Result.h"

namespace quorvel {

namespace QuorvelError {
inline constexpr const char* domain = "Quorvel";
inline Error make(long code, std::string message) { return Error{domain, code, std::move(message)}; }
}  // namespace QuorvelError

}  // namespace quorvel
