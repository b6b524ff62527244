#include "bridge/StatusServer.h"

namespace ovlar {

namespace {

// The page needs nothing from elsewhere, and a browser is told so.
const char* const kPagePolicy =
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'\r\n";

}  // namespace

TStatusServer::TStatusServer(EventLoop& loop, TSources sources, std::function<void(const std::string&)> log)
    : loop_(loop), sources_(std::move(sources)), started_(std::time(nullptr)), startMs_(loop.Now()), server_(loop) {
  server_.OnRequest = [this](const THttpRequest& request) { return Answer(request); };
  server_.OnProblem = [log = std::move(log)](const std::string& text) {
    if (log) log("<STATUS> " + text);
  };
}

bool TStatusServer::Listen(const std::string& address, int32_t port) {
  return server_.Listen(address, std::to_string(port));
}

TStatusView TStatusServer::View() const {
  const TCounters& c = *sources_.Counters;
  TStatusView v;
  v.Product = sources_.Product;
  v.Mode = sources_.Mode;
  v.Now = std::time(nullptr);
  v.Started = started_;
  v.UptimeMs = loop_.Now() - startMs_;
  v.LinkUp = c.IsLinkUp();
  // The link's times are the loop's: told as wall-clock time from now.
  v.LinkSince = v.Now - static_cast<std::time_t>((loop_.Now() - c.LinkSince()) / 1000);
  v.LinkUps = c.LinkUps;
  v.LinkDowns = c.LinkDowns;
  v.RadioToIp = &c.RadioToIp;
  v.IpToRadio = &c.IpToRadio;
  v.Heard = sources_.Heard;
  v.Cache = sources_.Cache;
  return v;
}

const std::string& TStatusServer::Document(size_t which, std::string (*make)(const TStatusView&)) {
  TDocument& d = documents_.at(which);
  if (!d.Made || loop_.Now() - d.MadeAt >= kDocumentMs) {
    d.Body = make(View());
    d.MadeAt = loop_.Now();
    d.Made = true;
  }
  return d.Body;
}

THttpReply TStatusServer::Answer(const THttpRequest& request) {
  const std::string& path = request.Path();
  if (path == "/") return {200, "text/html; charset=utf-8", Document(0, &StatusHtml), kPagePolicy};
  if (path == "/metrics") return {200, "text/plain; version=0.0.4; charset=utf-8", Document(1, &StatusMetrics), {}};
  if (path == "/status.json") return {200, "application/json", Document(2, &StatusJson), {}};
  return {404, "text/plain; charset=utf-8", "404 Not Found: this station serves /, /metrics and /status.json\n", {}};
}

}  // namespace ovlar
