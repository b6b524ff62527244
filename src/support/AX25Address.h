// AX.25 addresses as the log and the cache show them: the callsign, then
// "-" and the SSID in decimal when it is not 0. Stateless; any thread.
#pragma once
#include <cstddef>
#include <string>

namespace ovlar {

constexpr size_t kAX25AddressSize = 7;

// The 7-byte address at `at`; the caller sees that it lies within bytes.
std::string AX25CallSign(const std::string& bytes, size_t at);

}  // namespace ovlar
