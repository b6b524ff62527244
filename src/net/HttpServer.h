// THttpServer: a small HTTP/1.1 server on the event loop, for documents
// that a handler makes on demand. It owns its TCP listener and the accepted
// connections (TWSocket), answers one request per connection and closes
// it, and protects the loop from its clients: only GET and HEAD (405
// otherwise), a request head of at most 8 KiB (431), at most 16 connections
// (the oldest idle one makes room), 10 s for the whole exchange, reads of
// one piece per readiness and writes that never wait. Owned by its
// creator; event-loop thread only; the handler must not destroy the server.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "net/HttpRequest.h"
#include "net/WSocket.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"

namespace ovlar {

struct THttpReply {
  int Status = 200;
  std::string ContentType;
  std::string Body;
  // Further header lines, each ending in "\r\n".
  std::string Headers;
};

class THttpServer {
 public:
  static constexpr size_t kMaxConnections = 16;
  static constexpr int64_t kTimeoutMs = 10000;
  // How long accepting rests after the platform refused an accept.
  static constexpr int64_t kAcceptPauseMs = 1000;

  // Makes the reply to a GET or HEAD (the server drops a HEAD's body).
  std::function<THttpReply(const THttpRequest&)> OnRequest;
  // A failure of the server's own that deserves a log line.
  std::function<void(const std::string&)> OnProblem;

  explicit THttpServer(EventLoop& loop);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Listens on the IPv4 address and port; false, with the Windows Sockets
  // code in LastError, when the port could not be opened.
  bool Listen(const std::string& address, const std::string& port);
  int32_t LastError() const { return lastError_; }
  const TWSocket& Listener() const { return *listener_; }
  size_t Connections() const { return connections_.size(); }

  static const char* ReasonPhrase(int status);

 private:
  enum class TPhase { Reading, Writing, Draining };
  struct TConnection {
    std::unique_ptr<TWSocket> Socket;
    THttpRequest Request;
    int64_t Deadline = 0;
    TPhase Phase = TPhase::Reading;
  };
  using TConnections = std::list<TConnection>;

  void OnSessionAvailable();
  // Makes room for one more: false when every connection is busy.
  bool MakeRoom();
  void Adopt(int handle);
  TConnections::iterator Find(const TCustomWSocket* socket);
  void OnData(TCustomWSocket* socket);
  void Respond(TConnection& c);
  THttpReply Answer(const THttpRequest& request);
  void Write(TConnection& c, const THttpReply& reply, bool head);
  void OnSent(TCustomWSocket* socket);
  // Closes and forgets the connection; its socket is freed after the
  // current event, which may be one of its own.
  void Drop(TConnections::iterator it);
  void Sweep();
  void Problem(const std::string& text);

  EventLoop& loop_;
  std::unique_ptr<TWSocket> listener_;
  TConnections connections_;
  int32_t lastError_ = 0;
  int64_t acceptPausedUntil_ = 0;
  bool acceptPaused_ = false;
  std::unique_ptr<TTimer> sweep_;
};

}  // namespace ovlar
