// The bridge's status page: GET / (the page), /metrics and /status.json,
// made from the bridge's counters, heard list and route cache at each
// request, served on the event loop by THttpServer. Each document is made
// at most once a second and served from there in between, so that clients,
// however many, cost the loop a bounded share. Owned by TForm1, which owns
// what it reads and outlives it; event-loop thread only.
#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "bridge/Cache.h"
#include "bridge/Counters.h"
#include "bridge/HeardList.h"
#include "bridge/StatusPage.h"
#include "net/HttpServer.h"
#include "platform/EventLoop.h"

namespace ovlar {

class TStatusServer {
 public:
  struct TSources {
    std::string Product;
    std::string Mode;
    const TCounters* Counters = nullptr;
    const THeardList* Heard = nullptr;
    const TCacheList* Cache = nullptr;  // only in CACHE mode
  };

  // log gets the server's own failures, as whole lines.
  TStatusServer(EventLoop& loop, TSources sources, std::function<void(const std::string&)> log);

  bool Listen(const std::string& address, int32_t port);
  int32_t LastError() const { return server_.LastError(); }
  const THttpServer& Server() const { return server_; }

 private:
  static constexpr int64_t kDocumentMs = 1000;
  struct TDocument {
    int64_t MadeAt = 0;
    bool Made = false;
    std::string Body;
  };

  THttpReply Answer(const THttpRequest& request);
  // The document, made anew when it is older than kDocumentMs.
  const std::string& Document(size_t which, std::string (*make)(const TStatusView&));
  TStatusView View() const;

  EventLoop& loop_;
  TSources sources_;
  std::time_t started_;
  int64_t startMs_;
  std::array<TDocument, 3> documents_;
  THttpServer server_;
};

}  // namespace ovlar
