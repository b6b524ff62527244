// The whole bridge in one process: a scratch folder with OVLAR.INI, the
// scripted AGWPE, the fake desktop and a test clock for the timers.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AgwServer.h"
#include "FakeDesktop.h"
#include "SocketTestUtil.h"
#include "TestUtil.h"
#include "bridge/Form1.h"
#include "support/L2CRC.h"

namespace ovlar::test {

using Lines = std::vector<std::string>;

// An AX.25 address: six characters shifted left, then the SSID byte.
inline std::string Ax25Address(const std::string& call, int ssid, bool last) {
  std::string a;
  for (size_t i = 0; i < 6; ++i) a += static_cast<char>((i < call.size() ? call[i] : ' ') << 1);
  return a + static_cast<char>(0x60 | (ssid << 1) | (last ? 1 : 0));
}

// A frame from one station to another with the given control byte.
inline std::string Ax25Frame(const std::string& to, int toSsid, const std::string& from, int fromSsid,
                             uint8_t control, const std::string& info = "") {
  std::string f = Ax25Address(to, toSsid, false) + Ax25Address(from, fromSsid, true) + static_cast<char>(control);
  if ((control & 0x01) == 0 || control == 0x03) f += static_cast<char>(0xF0);
  return f + info;
}

inline std::string WithFcs(const std::string& frame) { return TCRC().AppendFCS(frame); }

// Host names as the test answers them, never the network: a name not set,
// or set to "", fails as an unknown host would; one set to an IPv6 address
// has no IPv4 one. The names live in shared
// state, which a lookup thread keeps while it runs.
class FakeHosts {
 public:
  void Set(const std::string& name, const std::string& dotted) {
    std::lock_guard<std::mutex> lock(names_->mutex);
    names_->map[name] = dotted;
  }
  // The lookup for the resolver; runs on its lookup threads.
  AsyncResolver::HostLookup Lookup() const {
    return [names = names_](const std::string& name) {
      std::lock_guard<std::mutex> lock(names->mutex);
      LookupResult result;
      auto it = names->map.find(name);
      if (it == names->map.end() || it->second.empty()) {
        result.error = 11001;
      } else if (in6_addr v6{}; inet_pton(AF_INET6, it->second.c_str(), &v6) == 1) {
        result.error = 11004;
        result.addresses6.push_back(v6);
      } else {
        result.addresses.push_back(inet_addr(it->second.c_str()));
      }
      return result;
    };
  }

 private:
  struct Names {
    std::mutex mutex;
    std::map<std::string, std::string> map;
  };
  std::shared_ptr<Names> names_ = std::make_shared<Names>();
};

class BridgeFixture : public ::testing::Test {
 protected:
  BridgeFixture() {
    loop_.Resolver().SetHostLookup(hosts_.Lookup());
  }
  ~BridgeFixture() override { form_.reset(); }

  // Starts the bridge with the INI text; the AGWPE address and port, the
  // trace level and the icon file are added unless the test set them.
  void Start(const std::string& ini, bool withIcon = true) {
    if (withIcon) WriteFile("OVLAR.ICO", std::string("\0\0\1\0icon", 8));
    WriteFile("OVLAR.INI", ini + "\n[OVLAR]\nTRACE=5\n[AGW]\nADDRESS=127.0.0.1\nPORT=" +
                               std::to_string(agw_.Port()) + "\n");
    form_ = std::make_unique<TForm1>(loop_, desktop_);
    form_->FormCreate();
  }
  // Waits for the login requests, then answers the port list.
  void Connect(const std::string& ports = "2;Port1 first;Port2 second;") {
    ASSERT_TRUE(RunUntil(loop_, [&] { return agw_.Kinds().rfind("GRk", 0) == 0; }));
    agw_.Frames().clear();
    agw_.Send(0, 'G', ports);
    ASSERT_TRUE(RunUntil(loop_, [&] { return form_->Ready(); }));
    Settle(loop_);
    agw_.Frames().clear();
  }
  // A frame heard on a radio port (1-based), as AGWPE reports it.
  void Hear(int port, const std::string& frame) { agw_.Send(static_cast<uint8_t>(port - 1), 'K', std::string(1, '\0') + frame); }
  // The raw frames AGWPE was asked to transmit, as "port:data".
  Lines Transmitted() {
    Lines out;
    for (const auto& f : agw_.Frames()) {
      if (f.kind == 'K') out.push_back(std::to_string(f.port + 1) + ":" + f.data);
    }
    return out;
  }
  // The next datagram at a node, turning the loop until it is there;
  // `from` gets its source port.
  std::string AtNode(const UdpPeer& node, uint16_t* from = nullptr) {
    if (!RunUntil(loop_, [&] { return WaitReadable(node.Fd(), 0); })) return "<none>";
    return node.Receive(0, from);
  }
  bool WaitTransmitted(size_t n) { return RunUntil(loop_, [&] { return Transmitted().size() >= n; }); }
  // The log so far, read on from where the last look ended.
  const Lines& Log() { return log_.Texts(); }
  bool Logged(const std::string& line) {
    const Lines& all = Log();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  // Whether a line begins with the text, as one with a reason after it does.
  bool LoggedStart(const std::string& text) {
    const Lines& all = Log();
    return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.rfind(text, 0) == 0; });
  }
  size_t Count(const std::string& line) {
    const Lines& all = Log();
    return static_cast<size_t>(std::count(all.begin(), all.end(), line));
  }
  // Indexes of lines in the log, to check their order.
  long At(const std::string& line) {
    const Lines& all = Log();
    auto it = std::find(all.begin(), all.end(), line);
    return it == all.end() ? -1 : static_cast<long>(it - all.begin());
  }
  void Advance(int64_t ms) {
    clock_.Advance(ms);
    Settle(loop_, 3);
  }

  ScratchDir dir_;
  FakeHosts hosts_;
  ManualClock clock_;
  EventLoop loop_{&clock_};
  FakeDesktop desktop_;
  AgwServer agw_{loop_};
  std::unique_ptr<TForm1> form_;
  LogCursor log_{"OVLAR.LOG"};
};

}  // namespace ovlar::test
