#include "platform/AsyncResolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/WinSock.h"

namespace ovlar {

namespace {

struct Job {
  AsyncResolver::Handle handle;
  AsyncResolver::Kind kind;
  std::string text;
  std::string proto;
};

}  // namespace

// What the resolver and its lookup threads share; each thread keeps it
// alive for as long as it runs, whatever became of the resolver.
struct AsyncResolver::Shared {
  std::mutex mutex;
  AsyncResolver* owner = nullptr;  // null once the resolver is gone
  EventLoop* loop = nullptr;
  std::deque<Job> jobs;
  int threads = 0;
  HostLookup hostLookup;

  // Drops a job not yet taken by a thread.
  void Forget(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [handle](const Job& j) { return j.handle == handle; }),
               jobs.end());
  }

  static void Work(const std::shared_ptr<Shared>& shared);
};

void AsyncResolver::Shared::Work(const std::shared_ptr<Shared>& shared) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  while (shared->owner && !shared->jobs.empty()) {
    const Job job = std::move(shared->jobs.front());
    shared->jobs.pop_front();
    const HostLookup hostLookup = shared->hostLookup;
    lock.unlock();
    LookupResult result;
    try {
      if (hostLookup && (job.kind == Kind::Host || job.kind == Kind::Node)) {
        result = hostLookup(job.text);
      } else {
        result = job.kind == Kind::Host      ? LookupHost(job.text)
                 : job.kind == Kind::Node    ? LookupNodeHost(job.text)
                 : job.kind == Kind::Address ? LookupAddress(job.text)
                                             : LookupService(job.text, job.proto);
      }
    } catch (...) {
      result = LookupResult{};
      result.error = WSANO_RECOVERY;
    }
    lock.lock();
    // Under the lock the resolver, and so its loop, cannot go away meanwhile.
    if (!shared->owner) break;
    AsyncResolver* owner = shared->owner;
    shared->loop->PostFromAnyThread(
        [owner, handle = job.handle, result = std::move(result)] { owner->Deliver(handle, result); });
  }
  --shared->threads;
}

AsyncResolver::AsyncResolver(EventLoop& loop) : loop_(loop), shared_(std::make_shared<Shared>()) {
  shared_->owner = this;
  shared_->loop = &loop;
}

AsyncResolver::~AsyncResolver() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->owner = nullptr;
    shared_->loop = nullptr;
    shared_->jobs.clear();
  }
  for (const auto& [handle, pending] : pending_) loop_.StopTimer(pending.timer);
}

AsyncResolver::Handle AsyncResolver::Start(Kind kind, const std::string& text, const std::string& proto,
                                           Done done) {
  const Handle handle = next_++;
  const uint64_t timer = loop_.StartTimer(kTimeoutMs, [this, handle] {
    shared_->Forget(handle);
    LookupResult late;
    late.error = WSATRY_AGAIN;
    Deliver(handle, late);
  });
  pending_[handle] = {std::move(done), timer};
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->jobs.push_back({handle, kind, text, proto});
  if (shared_->threads >= kThreads) return handle;
  try {
    std::thread(&Shared::Work, shared_).detach();
    ++shared_->threads;
  } catch (const std::system_error& e) {
    // With no thread at all the job would only time out: say why now.
    if (shared_->threads > 0) return handle;
    shared_->jobs.pop_back();
    LookupResult failed;
    failed.error = WSAErrorFromErrno(e.code().value());
    loop_.Post([this, handle, failed] { Deliver(handle, failed); });
  }
  return handle;
}

void AsyncResolver::Deliver(Handle handle, const LookupResult& result) {
  auto it = pending_.find(handle);
  if (it == pending_.end()) return;
  Done done = std::move(it->second.done);
  loop_.StopTimer(it->second.timer);
  pending_.erase(it);
  done(handle, result);
}

bool AsyncResolver::Cancel(Handle handle) {
  auto it = pending_.find(handle);
  if (it == pending_.end()) return false;
  loop_.StopTimer(it->second.timer);
  pending_.erase(it);
  shared_->Forget(handle);
  return true;
}

void AsyncResolver::SetHostLookup(HostLookup lookup) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->hostLookup = std::move(lookup);
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

LookupResult AsyncResolver::LookupNodeHost(const std::string& name) {
  LookupResult result = LookupHost(name);
  if (!result.addresses.empty()) return result;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return result;
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family == AF_INET6) result.addresses6.push_back(reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr);
  }
  freeaddrinfo(list);
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
