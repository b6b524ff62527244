// Text to numbers for sockets: host names and dotted quads to IPv4
// addresses, port texts and service names to ports, protocol texts to
// protocol numbers. Each raises ESocketException with its message.
// Service and protocol answers are cached for the run, so that resolving
// "udp" for every datagram costs no file read.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ovlar {

class ESocketException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Four groups of digits, each at most 255, blanks allowed around the whole.
bool WSocketIsDottedIP(const std::string& text);
// Network byte order.
uint32_t WSocketResolveHost(const std::string& text);
// Host byte order.
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
int WSocketResolveProto(const std::string& proto);

// The text without blanks at either end.
std::string TrimBlanks(const std::string& text);

// printf-style formatting for the components' error texts.
std::string Format(const char* pattern, const std::string& text, int number);

}  // namespace ovlar
