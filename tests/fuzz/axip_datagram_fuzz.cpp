// AXIP datagrams from the XNet node through the bridge up to the engine
// write: the input is one datagram as a listener hands it to
// TForm1::OnDatagram, and then a frame with its FCS appended, each given to
// three bridges (DIRECT, CACHE with static and
// learned routes, MAP), each started by FormCreate from an OVLAR.INI of its
// own with a fake engine in place of the AGWPE client. What must hold: only
// a datagram with a right FCS reaches the engine, and then as the byte 0
// and its frame, on the radio ports its mode chooses; every datagram is
// counted, forwarded once per write the engine took and dropped once per
// write it refused, or dropped once when it reached no write at all.
//
// The bridges' listeners are bound to ports that were free a moment
// before (the DIRECT and CACHE ones need a node port other than 0) and the
// MAP ones to ports the system picks; the event loop never runs, so they
// never read anything.
#include <arpa/inet.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../SocketTestUtil.h"
#include "FuzzSupport.h"
#include "bridge/Form1.h"
#include "engine/Engine.h"
#include "platform/Desktop.h"
#include "support/L2CRC.h"

namespace ovlar {
namespace {

constexpr int32_t kEnginePorts = 4;

// An engine with four radio ports and a heard list, whose link takes every
// frame for them; frames for any other port it refuses as an engine does.
class TFakeEngine : public TEngine {
 public:
  struct Write {
    int32_t port;
    std::string data;
    TSendResult result;
  };
  std::vector<Write> Writes;

  void Open() override {}
  void Close() override {}
  TSendResult SendRaw(int32_t port, const std::string& data) override {
    const TSendResult result = port >= 1 && port <= kEnginePorts ? TSendResult::Sent : TSendResult::NoSuchPort;
    Writes.push_back({port, data, result});
    return result;
  }
  int32_t PortCount() const override { return kEnginePorts; }
  int32_t LoopbackPort() const override { return 0; }
  // N2CALL on two ports, so that the cache has no one answer for it.
  std::vector<std::string> Heard(int32_t port) const override {
    switch (port) {
      case 1: return {"N2CALL 12:00:00"};
      case 2: return {"N2CALL", "N3CALL-7\tnow"};
      case 3: return {"n4call"};
      default: return {};
    }
  }
  std::string CallSign() const override { return "OVLAR-0"; }
  std::string Peer() const override { return "fake engine"; }
  std::string ErrorText() const override { return {}; }
  const char* Kind() const override { return "fake"; }
};

class TQuietDesktop : public Desktop {
 public:
  MsgResult MessageBox(const std::string&, const std::string&, MsgButtons) override { return MsgResult::Ok; }
  void Notice(const std::string&) override {}
  void Terminate() override {}
  bool AddTrayIcon(TrayIcon, const std::string&, std::function<void(int)>) override { return true; }
  bool ModifyTrayIcon(TrayIcon) override { return true; }
  void SetTrayTip(const std::string&) override {}
  bool DeleteTrayIcon() override { return true; }
  void SetPopupMenu(std::vector<MenuItem>) override {}
  void PopupMenuAtCursor() override {}
  void ShowAbout(const AboutContent&) override {}
  bool OpenDocument(const std::string&) override { return true; }
  void SetApplicationTitle(const std::string&) override {}
  void SetApplicationIcon(const std::string&) override {}
  void SetMainWindowCaption(const std::string&) override {}
  void HideMainWindow() override {}
};

const char* const kCommon = "[OVLAR]\nLOGFILE=/dev/null\nTRACE=5\n[XNET]\nADDRESS=127.0.0.1\n";
const char* const kDirect = "[OVLAR]\nMODE=0\n[AGW]\nDEFPORT=2\n[XNET]\nACCEPT=XNET\n";
// Channels 2 to 4; N0CALL and DB0ABC-5 routed, N9ZZZ to a port the engine lacks.
const char* const kCache =
    "[OVLAR]\nMODE=1\nLEARN=YES\n[XNET]\nRADIOPORT=2\nCHANNELS=3\nACCEPT=127.0.0.1\n"
    "[ROUTES]\nN0CALL=2\nDB0ABC-5=3\nN9ZZZ=7\n";
// Entry 3's radio port is one the engine lacks.
const char* const kMap = "[OVLAR]\nMODE=2\n[XNET.PORT]\nP1=1,0,93\nP2=3,0,94\nP3=5,0,95\n";

struct Bridge {
  std::unique_ptr<TForm1> form;
  TFakeEngine* engine = nullptr;
};

// FormCreate in a folder of its own that holds the OVLAR.INI, then the
// engine reports its ports, so that frames may flow.
Bridge Start(TQuietDesktop& desktop, const std::string& ini) {
  std::string folder = (std::filesystem::temp_directory_path() / "ovlar-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(folder.data()) != nullptr, "a scratch folder for OVLAR.INI");
  std::ofstream(folder + "/OVLAR.INI") << kCommon << "PORT=" << test::FreeUdpPort() << "\n" << ini;
  const std::filesystem::path back = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  Bridge bridge;
  bridge.form = std::make_unique<TForm1>(fuzz::Loop(), desktop);
  bridge.form->SetTerminal(false);
  bridge.form->EngineFactory = [&bridge](EventLoop&) {
    auto engine = std::make_unique<TFakeEngine>();
    bridge.engine = engine.get();
    return engine;
  };
  bridge.form->FormCreate();
  std::filesystem::current_path(back);
  std::filesystem::remove_all(folder);
  FUZZ_CHECK(!bridge.form->ConfigError() && bridge.engine, "the bridge starts");
  bridge.engine->FOnPorts(bridge.engine);
  FUZZ_CHECK(bridge.form->Ready(), "the bridge is ready once the engine has its ports");
  return bridge;
}

struct Bridges {
  TQuietDesktop desktop;
  Bridge direct = Start(desktop, kDirect);
  Bridge cache = Start(desktop, kCache);
  Bridge map = Start(desktop, kMap);
};

TSockAddr Node() { return TSockAddr::V4(htonl(INADDR_LOOPBACK), 93); }

// The datagram through one bridge; the writes it made, checked.
std::vector<int32_t> Deliver(Bridge& b, TCustomWSocket* listener, const std::string& datagram) {
  const TDirection before = b.form->Counters().IpToRadio;
  const TDirection radioBefore = b.form->Counters().RadioToIp;
  b.engine->Writes.clear();
  b.form->OnDatagram(listener, datagram.data(), datagram.size(), Node());
  const TDirection& after = b.form->Counters().IpToRadio;

  const bool valid = datagram.size() >= 2 && TCRC().IsValid(datagram);
  FUZZ_CHECK(valid || b.engine->Writes.empty(), "a datagram with a wrong FCS never reaches the engine");
  std::vector<int32_t> ports;
  uint64_t sent = 0;
  uint64_t bytes = 0;
  for (const TFakeEngine::Write& w : b.engine->Writes) {
    FUZZ_CHECK(w.data == std::string(1, '\0') + datagram.substr(0, datagram.size() - 2),
               "the engine gets the byte 0 and the frame, without the FCS");
    ports.push_back(w.port);
    if (w.result == TSendResult::Sent) {
      ++sent;
      bytes += w.data.size() - 1;
    }
  }
  const uint64_t refused = b.engine->Writes.size() - sent;
  FUZZ_CHECK(after.Forwarded - before.Forwarded == sent, "forwarded counts the writes the engine took");
  FUZZ_CHECK(after.Bytes - before.Bytes == bytes, "the bytes counted are the frames' bytes");
  FUZZ_CHECK(after.Dropped() - before.Dropped() == refused + (b.engine->Writes.empty() ? 1 : 0),
             "a datagram is dropped once per refused write, or once when it reached none");
  FUZZ_CHECK(b.form->Counters().RadioToIp.Forwarded == radioBefore.Forwarded &&
                 b.form->Counters().RadioToIp.Dropped() == radioBefore.Dropped(),
             "the other direction is not counted");
  return ports;
}

// The datagram through the three bridges, each the way its mode must take it.
void DeliverAll(Bridges& bridges, const std::string& datagram) {
  const bool valid = datagram.size() >= 2 && TCRC().IsValid(datagram);

  const std::vector<int32_t> direct = Deliver(bridges.direct, bridges.direct.form->Listener(1), datagram);
  FUZZ_CHECK(!valid || direct == std::vector<int32_t>{2}, "DIRECT sends on DEFPORT alone");

  const std::vector<int32_t> cache = Deliver(bridges.cache, bridges.cache.form->Listener(1), datagram);
  FUZZ_CHECK(!valid || cache.size() == 1 || cache == (std::vector<int32_t>{2, 3, 4}),
             "CACHE sends on the one port it chose, or on every channel the engine has");

  // Entry 0 has no listener: a datagram from a socket no entry owns.
  const int entry = static_cast<int>(datagram.size() % 4);
  const std::vector<int32_t> map = Deliver(bridges.map, bridges.map.form->Listener(entry), datagram);
  static const std::array<std::vector<int32_t>, 4> kMapped = {{{}, {1}, {3}, {5}}};
  FUZZ_CHECK(!valid || map == kMapped[static_cast<size_t>(entry)], "MAP sends on the entry's radio port");
}

}  // namespace
}  // namespace ovlar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ovlar;
  static Bridges bridges;
  const std::string input = fuzz::Bytes(data, size);
  // A listener hands on 1 to kReceiveBuffer bytes; it drops anything else.
  const size_t most = TForm1::kReceiveBuffer;
  if (size >= 1 && size <= most) DeliverAll(bridges, input);
  // Mutations seldom keep an FCS right: the input as a frame with its FCS
  // takes the paths behind the check too.
  if (size + 2 <= most) DeliverAll(bridges, TCRC().AppendFCS(input));
  return 0;
}
