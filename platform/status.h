#pragma once

#include <cstdint>

namespace quorlen {

// The signed 32-bit result of every store and authentication call; 0 is success.
using Status = std::int32_t;

namespace status {
inline constexpr Status success = 0;
inline constexpr Status itemNotFound = -25300;           // no item matches
inline constexpr Status duplicateItem = -25299;          // add with an account that exists
inline constexpr Status badParameter = -50;              // a query the backend cannot serve
inline constexpr Status userCancelled = -128;            // the owner dismissed a prompt
inline constexpr Status authFailed = -25293;             // the owner failed authentication
inline constexpr Status interactionNotAllowed = -25308;  // a prompt was needed but none can show
inline constexpr Status notAvailable = -25291;  // the store or the authority is unreachable
}  // namespace status

}  // namespace quorlen
