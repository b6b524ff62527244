#include "net/HttpServer.h"

#include <exception>

#include "platform/WinSock.h"

namespace ovlar {

namespace {

// One piece per readiness keeps a flooding client to its share of the loop.
constexpr int kReadPiece = 4096;
constexpr int64_t kSweepMs = 1000;

THttpReply Plain(int status, std::string headers = {}) {
  return {status, "text/plain; charset=utf-8", std::to_string(status) + " " + THttpServer::ReasonPhrase(status) + "\n",
          std::move(headers)};
}

}  // namespace

THttpServer::THttpServer(EventLoop& loop) : loop_(loop), listener_(std::make_unique<TWSocket>(loop)) {}

THttpServer::~THttpServer() = default;

const char* THttpServer::ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

bool THttpServer::Listen(const std::string& address, const std::string& port) {
  // Failures leave their code in LastError; the caller reports them.
  listener_->OnError = [](TCustomWSocket*, int32_t, const std::string&) {};
  listener_->OnSessionAvailable = [this](TCustomWSocket*, uint16_t) { OnSessionAvailable(); };
  listener_->SetProto("tcp");
  listener_->SetAddr(address);
  listener_->SetPort(port);
  listener_->Listen();
  if (listener_->State() != wsListening) {
    lastError_ = listener_->LastError();
    // A failed listen may leave the socket bound.
    listener_->Close();
    return false;
  }
  sweep_ = std::make_unique<TTimer>(loop_, kSweepMs, [this] { Sweep(); });
  return true;
}

void THttpServer::Problem(const std::string& text) {
  if (OnProblem) OnProblem(text);
}

// ---- Connections ----

void THttpServer::OnSessionAvailable() {
  const int handle = listener_->Accept();
  if (handle == INVALID_SOCKET) {
    const int32_t code = listener_->LastError();
    // A client that gave up before the accept is no failure of ours.
    if (code == WSAEWOULDBLOCK || code == WSAECONNABORTED) return;
    // Out of descriptors, say: the connection stays queued, and accepting
    // again at once would spin the loop.
    Problem("accept failed: " + SystemErrorText(code) + " (" + std::to_string(code) + "), accepting again in " +
            std::to_string(kAcceptPauseMs / 1000) + " s");
    listener_->Pause();
    acceptPaused_ = true;
    acceptPausedUntil_ = loop_.Now() + kAcceptPauseMs;
    return;
  }
  if (connections_.size() >= kMaxConnections && !MakeRoom()) {
    wsock::CloseSocket(handle);
    return;
  }
  Adopt(handle);
}

bool THttpServer::MakeRoom() {
  // The list is in order of arrival: the first one that is not writing a
  // response (still reading its request, or answered and waiting for the
  // client to close) is the oldest idle one.
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->Phase != TPhase::Writing) {
      Drop(it);
      return true;
    }
  }
  return false;
}

void THttpServer::Adopt(int handle) {
  auto socket = std::make_unique<TWSocket>(loop_);
  // Closing must not throw away a response still on its way.
  socket->LingerOnOff = wsLingerNoSet;
  socket->ComponentOptions = wsoNoReceiveLoop;
  socket->OnDataAvailable = [this](TCustomWSocket* s, uint16_t) { OnData(s); };
  socket->OnDataSent = [this](TCustomWSocket* s, uint16_t) { OnSent(s); };
  socket->OnSessionClosed = [this](TCustomWSocket* s, uint16_t) {
    if (auto it = Find(s); it != connections_.end()) Drop(it);
  };
  socket->OnError = [this](TCustomWSocket* s, int32_t, const std::string&) {
    if (auto it = Find(s); it != connections_.end()) Drop(it);
  };
  TWSocket* raw = socket.get();
  connections_.push_back({std::move(socket), THttpRequest(), loop_.Now() + kTimeoutMs, TPhase::Reading});
  raw->Dup(handle);
}

THttpServer::TConnections::iterator THttpServer::Find(const TCustomWSocket* socket) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->Socket.get() == socket) return it;
  }
  return connections_.end();
}

void THttpServer::Drop(TConnections::iterator it) {
  std::unique_ptr<TCustomWSocket> socket = std::move(it->Socket);
  connections_.erase(it);
  // Forgotten first: the close may report back through OnSessionClosed.
  socket->Close();
  TCustomWSocket::ReleaseLater(std::move(socket));
}

void THttpServer::Sweep() {
  const int64_t now = loop_.Now();
  for (auto it = connections_.begin(); it != connections_.end();) {
    auto next = std::next(it);
    if (it->Deadline <= now) Drop(it);
    it = next;
  }
  if (acceptPaused_ && now >= acceptPausedUntil_) {
    acceptPaused_ = false;
    listener_->Resume();
  }
}

// ---- One request ----

void THttpServer::OnData(TCustomWSocket* socket) {
  char piece[kReadPiece];
  const int n = socket->Receive(piece, sizeof piece);
  auto it = Find(socket);
  if (n <= 0 || it == connections_.end() || it->Phase != TPhase::Reading) return;
  it->Request.Feed(piece, static_cast<size_t>(n));
  if (it->Request.State() != THttpRequest::TState::Reading) Respond(*it);
}

void THttpServer::Respond(TConnection& c) {
  const THttpRequest& request = c.Request;
  switch (request.State()) {
    case THttpRequest::TState::TooLarge: return Write(c, Plain(431), false);
    case THttpRequest::TState::Bad: return Write(c, Plain(400), false);
    default: break;
  }
  const bool head = request.Method() == "HEAD";
  if (!head && request.Method() != "GET") return Write(c, Plain(405, "Allow: GET, HEAD\r\n"), false);
  Write(c, Answer(request), head);
}

THttpReply THttpServer::Answer(const THttpRequest& request) {
  try {
    if (OnRequest) return OnRequest(request);
    return Plain(404);
  } catch (const std::exception& e) {
    Problem(std::string("Exception on module OnRequest: ") + e.what());
  } catch (...) {
    Problem("Exception on module OnRequest");
  }
  return Plain(500);
}

void THttpServer::Write(TConnection& c, const THttpReply& reply, bool head) {
  std::string text = "HTTP/1.1 " + std::to_string(reply.Status) + " " + ReasonPhrase(reply.Status) + "\r\n";
  if (!reply.ContentType.empty()) text += "Content-Type: " + reply.ContentType + "\r\n";
  text += "Content-Length: " + std::to_string(reply.Body.size()) +
          "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n" + reply.Headers +
          "\r\n";
  if (!head) text += reply.Body;
  c.Phase = TPhase::Writing;
  // What the platform does not take now goes out on write readiness;
  // OnSent follows from the loop once all of it is out.
  c.Socket->SendStr(text);
}

void THttpServer::OnSent(TCustomWSocket* socket) {
  auto it = Find(socket);
  if (it == connections_.end() || it->Phase != TPhase::Writing || !socket->AllSent()) return;
  // The end of the response, then whatever the client still sends is read
  // and dropped until it closes: closing with unread bytes would reset the
  // connection and might destroy the response before the client reads it.
  it->Phase = TPhase::Draining;
  socket->Shutdown(SHUT_WR);
}

}  // namespace ovlar
