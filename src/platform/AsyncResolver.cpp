#include "platform/AsyncResolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

#include "platform/EventLoop.h"
#include "platform/WinSock.h"

namespace ovlar {

AsyncResolver::~AsyncResolver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

AsyncResolver::Handle AsyncResolver::Start(Kind kind, const std::string& text, const std::string& proto,
                                           Done done) {
  const Handle handle = next_++;
  pending_[handle] = std::move(done);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({handle, kind, text, proto});
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  }
  wake_.notify_one();
  return handle;
}

bool AsyncResolver::Cancel(Handle handle) { return pending_.erase(handle) != 0; }

void AsyncResolver::SetHostLookup(HostLookup lookup) {
  std::lock_guard<std::mutex> lock(mutex_);
  hostLookup_ = std::move(lookup);
}

void AsyncResolver::Work() {
  for (;;) {
    Job job;
    HostLookup hostLookup;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      hostLookup = hostLookup_;
    }
    LookupResult result = job.kind == Kind::Host      ? (hostLookup ? hostLookup(job.text) : LookupHost(job.text))
                          : job.kind == Kind::Address ? LookupAddress(job.text)
                                                      : LookupService(job.text, job.proto);
    loop_.PostFromAnyThread([this, handle = job.handle, result = std::move(result)] {
      auto it = pending_.find(handle);
      if (it == pending_.end()) return;
      Done done = std::move(it->second);
      pending_.erase(it);
      done(handle, result);
    });
  }
}

LookupResult AsyncResolver::LookupHost(const std::string& name) {
  LookupResult result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  result.error = WSAErrorFromGai(rc, errno);
  for (addrinfo* a = list; rc == 0 && a; a = a->ai_next) {
    result.addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
  }
  if (list) freeaddrinfo(list);
  if (rc == 0 && result.addresses.empty()) result.error = WSANO_DATA;
  return result;
}

LookupResult AsyncResolver::LookupAddress(const std::string& dotted) {
  LookupResult result;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = wsock::InetAddr(dotted);
  char host[NI_MAXHOST];
  const int rc = getnameinfo(reinterpret_cast<sockaddr*>(&addr), sizeof addr, host, sizeof host, nullptr, 0,
                             NI_NAMEREQD);
  result.error = WSAErrorFromGai(rc, errno);
  if (rc == 0) result.name = host;
  return result;
}

LookupResult AsyncResolver::LookupService(const std::string& name, const std::string& proto) {
  LookupResult result;
  servent entry{};
  servent* found = nullptr;
  char buffer[4096];
  getservbyname_r(name.c_str(), proto.empty() ? nullptr : proto.c_str(), &entry, buffer, sizeof buffer, &found);
  if (found) {
    result.port = ntohs(static_cast<uint16_t>(found->s_port));
  } else {
    result.error = WSANO_DATA;
  }
  return result;
}

}  // namespace ovlar
