// THttpRequest: reads one HTTP/1.x request head (request line and header
// lines up to the blank line) from bytes fed in pieces of any size, in
// memory bounded by the limit whatever arrives. A request body is never
// read: the server answers only requests without one. Plain object, no I/O.
#pragma once
#include <cstddef>
#include <string>

namespace ovlar {

class THttpRequest {
 public:
  static constexpr size_t kMaxHead = 8192;

  enum class TState {
    Reading,   // more bytes needed
    Complete,  // the head ended with a blank line
    TooLarge,  // no blank line within kMaxHead bytes
    Bad,       // not an HTTP/1.x request line, or a broken header line
  };

  explicit THttpRequest(size_t maxHead = kMaxHead) : maxHead_(maxHead) {}

  // Takes bytes until the head is decided; returns how many it took, so
  // that what follows the head is left to the caller.
  size_t Feed(const char* data, size_t length);
  TState State() const { return state_; }

  // Valid once Complete (the method and target also once the request line
  // was read): the method as sent, the path without query, the query
  // without its "?", and the minor version (0 or 1).
  const std::string& Method() const { return method_; }
  const std::string& Path() const { return path_; }
  const std::string& Query() const { return query_; }
  int MinorVersion() const { return minor_; }

 private:
  // One complete line, without its line end.
  void Line(const std::string& line);
  bool RequestLine(const std::string& line);

  size_t maxHead_;
  size_t taken_ = 0;
  std::string line_;
  bool started_ = false;
  TState state_ = TState::Reading;
  std::string method_;
  std::string path_;
  std::string query_;
  int minor_ = 1;
};

}  // namespace ovlar
