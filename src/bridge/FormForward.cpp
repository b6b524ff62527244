// Forwarding in both directions: raw frames heard by AGWPE out as AXIP
// datagrams to the XNet node, and datagrams from the node out on a radio
// port.
#include <arpa/inet.h>

#include <algorithm>

#include "bridge/Form1.h"
#include "bridge/Monitor.h"
#include "platform/WinSock.h"
#include "support/HexStr.h"

namespace ovlar {

namespace {

// The FCS at the end of a datagram, low-order byte first.
uint16_t FcsOf(const std::string& datagram) {
  const size_t n = datagram.size();
  return static_cast<uint16_t>(static_cast<uint8_t>(datagram[n - 2]) | static_cast<uint8_t>(datagram[n - 1]) << 8);
}

// Why a socket failed: the system's text and the number when there is
// one ("Network is unreachable (10051)"), else the socket's own words.
std::string SocketReason(int32_t error, const std::string& msg) {
  return error != 0 ? SystemErrorText(error) + " (" + std::to_string(error) + ")" : msg;
}

// A host and a port as a log line shows them; an IPv6 address in brackets.
std::string HostPortText(const std::string& host, int32_t port) {
  return (IsIPv6Text(host) && host.front() != '[' ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

// ---- Radio to IP ----

void TForm1::OnKissBefore(TEngine*, int32_t port, const std::string& data) {
  try {
    if (Tracing(3)) Log("<L2> <OnKissBefore> Port(" + std::to_string(port) + ")", 3);
    Dump(data, 4);
    // In MAP each entry's node is asked for below, as its datagram is sent.
    if (!FReady || (FMode != kModeMap && !NodeAddress(1))) {
      Log("<L2> OnKissBefore: L2 Object not ready, frame discarded", 3);
      DropRadio(TDrop::NotReady);
      return;
    }
    if (FMode != kModeMap && (port < FRadioPort || static_cast<int64_t>(port) > int64_t{FRadioPort} + FChannels - 1)) {
      Log("<L2> OnKissBefore: Port out of range, frame discarded", 3);
      DropRadio(TDrop::NotMapped);
      return;
    }
    // Without its leading port byte there is no frame to speak of; a frame
    // longer than the send buffer would not fit the datagram.
    if (data.empty()) {
      Log("<L2> OnKissBefore: Empty frame, discarded");
      DropRadio(TDrop::BadLength);
      return;
    }
    if (data.size() - 1 > kSendBuffer - 2) {
      Log("<L2> OnKissBefore: Frame too long (" + std::to_string(data.size() - 1) + "), discarded");
      DropRadio(TDrop::BadLength);
      return;
    }
    if (FMode == kModeCache) UpdateCache(port, data, 0);
    const std::string frame = data.substr(1);
    if (Tracing(3)) Log(MonitorLine("R>I", port, frame), 3);
    const std::string datagram = FCRC.AppendFCS(frame);
    if (Tracing(4)) Log("<AXIP> Send: CRC Computed for Frame(" + WordToHex(FcsOf(datagram)) + ")", 4);
    if (FMode != kModeMap) {
      Log("<AXIP> Sending DIRECT/CACHE", 4);
      if (SendDatagram(datagram, 1)) HeardFrame(THeardDirection::RadioToIp, port, frame);
      return;
    }
    bool delivered = false;
    bool sent = false;
    for (int i = 1; i <= kXNetEntries && FXNet[i].AGWPort != 0; ++i) {
      if (FXNet[i].AGWPort != port) continue;
      delivered = true;
      if (!NodeAddress(i)) {
        Log("<L2> OnKissBefore: L2 Object not ready, frame discarded", 3);
        DropRadio(TDrop::NotReady);
        continue;
      }
      if (Tracing(3)) {
        Log("<AXIP> Sending Frame Len(" + std::to_string(datagram.size()) + ") to (" +
                HostPortText(NodeHost(i), NodePort(i)) + ")",
            3);
      }
      Log("<AXIP> Sending MAP", 4);
      sent = SendDatagram(datagram, i) || sent;
    }
    if (sent) HeardFrame(THeardDirection::RadioToIp, port, frame);
    if (!delivered) {
      Log("<AXIP> Frame not delivered, destination port not mapped", 4);
      DropRadio(TDrop::NotMapped);
    }
  } catch (...) {
    Log("<AXIP> Exception on module OnKissBefore");
  }
}

const std::string& TForm1::NodeHost(int entry) const {
  return FMode == kModeMap && !FXNet[entry].Host.empty() ? FXNet[entry].Host : FXNetAddress;
}

int32_t TForm1::NodePort(int entry) const { return FMode == kModeMap ? FXNet[entry].RemoteUDP : FXNetPort; }

std::optional<TSockAddr> TForm1::NodeAddress(int entry) const {
  if (FFollowed[entry].Valid()) return FFollowed[entry];
  const std::string& host = NodeHost(entry);
  if (!FHostNames || !FHostNames->Known(host)) return std::nullopt;
  TSockAddr address = FHostNames->Addresses(host).front();
  address.SetPort(static_cast<uint16_t>(NodePort(entry)));
  return address;
}

bool TForm1::SendDatagram(const std::string& datagram, int entry) {
  const std::optional<TSockAddr> to = NodeAddress(entry);
  // Errors of the send arrive through OnOutError, inside the calls below.
  FOutFailed = false;
  bool left = false;
  if (!to) {
    // The callers ask first; a node that is not known has nowhere to go.
  } else if (FSymmetric) {
    left = SendFromListener(entry, *to, datagram);
  } else if (FKeptSockets) {
    left = FKeptSockets->Send(NodeHost(entry), NodePort(entry), *to, datagram);
  } else {
    FUDPClient->SetProto("udp");
    FUDPClient->SetAddr(to->HostText());
    FUDPClient->SetPort(std::to_string(to->Port()));
    FUDPClient->ComponentOptions = wsoNoReceiveLoop;
    FUDPClient->Connect();
    if (FUDPClient->State() == wsConnected) {
      FUDPClient->Send(datagram.data(), static_cast<int>(datagram.size()));
      // What has not left by now goes with the socket.
      left = FUDPClient->AllSent();
    }
    FUDPClient->Close();
  }
  if (!left || FOutFailed) {
    DropRadio(TDrop::SendFailed);
    return false;
  }
  FCounters.Forwarded(FCounters.RadioToIp, datagram.size());
  ShowActivity();
  return true;
}

bool TForm1::SendFromListener(int entry, const TSockAddr& to, const std::string& datagram) {
  TWSocket* listener = ListenerFor(entry, to.Family());
  if (!listener) {
    OnOutError(nullptr, 0, "no IPv6 listener on port " + FSockets[entry]->Port() + " for " + to.Text());
    return false;
  }
  const int length = static_cast<int>(datagram.size());
  const int sent = listener->SendTo(to, datagram.data(), length);
  if (sent < 0) OnOutError(listener, listener->LastError(), "");
  return sent == length;
}

// ---- IP to radio ----

void TForm1::OnDataAvailable(TCustomWSocket* sender, uint16_t error) {
  // A handler below that turns the loop may bring this one back: it then
  // reads into a queue of its own.
  std::unique_ptr<TDatagramQueue> queue = std::move(FInQueue);
  if (!queue) queue = std::make_unique<TDatagramQueue>(kReceiveBuffer + 1);
  int count = -1;
  try {
    count = sender->ReceiveBatch(*queue);
  } catch (...) {
    Log("<AXIP> Exception on module OnDataAvailable");
  }
  if (count < 0 && sender->LastError() != WSAEWOULDBLOCK) TakeDatagram(sender, error, nullptr);
  for (size_t i = 0; count > 0 && i < queue->Count(); ++i) {
    const TDatagramQueue::TDatagram datagram = queue->At(i);
    TakeDatagram(sender, error, &datagram);
  }
  FInQueue = std::move(queue);
}

void TForm1::TakeDatagram(TCustomWSocket* sender, uint16_t error, const TDatagramQueue::TDatagram* datagram) {
  // The datagram's lines wait until its fate is known: those of a bad one,
  // or of one from a refused host, are written only a few times a second.
  if (FLog) FLog->Hold();
  FTrouble.reset();
  try {
    ReadDatagram(sender, error, datagram);
  } catch (...) {
    Log("<AXIP> Exception on module OnDataAvailable");
  }
  const std::string from = datagram ? datagram->from.HostText() : std::string();
  const bool told = !FTrouble || FLineLimit.Allow(from, *FTrouble, loop_.Now());
  if (FLog) FLog->Release(told);
}

// datagram: null for a receive that failed, with the error in the socket.
void TForm1::ReadDatagram(TCustomWSocket* sender, uint16_t error, const TDatagramQueue::TDatagram* datagram) {
  if (Tracing(1)) Log("<AXIP> OnDataAvailable: Error(" + std::to_string(error) + ") Listener(" + sender->Port() + ")");
  if (!FReady) {
    Log("<AXIP> OnDataAvailable: Not Ready, Frame Discarded");
    DropIp(TDrop::NotReady);
    return;
  }
  if (!datagram) {
    ReceivedWhole(sender, -1, 0);
    return;
  }
  // The receive tells the whole length, also of one longer than the buffer.
  const int32_t whole = static_cast<int32_t>(std::min<size_t>(datagram->length, INT32_MAX));
  if (!ReceivedWhole(sender, std::min(whole, kReceiveBuffer + 1), whole)) return;
  OnDatagram(sender, datagram->bytes, datagram->length, datagram->from);
}

void TForm1::DropBad(TDrop reason) {
  DropIp(reason);
  FTrouble = reason;
}

void TForm1::LimitSummaries() {
  try {
    for (const std::string& line : FLineLimit.Summaries(loop_.Now())) Log("<AXIP> OnDataAvailable: " + line);
  } catch (...) {
    Log("<AXIP> Exception on module LimitSummaries");
  }
}

bool TForm1::ReceivedWhole(TCustomWSocket* sender, int count, int32_t waiting) {
  if (count > kReceiveBuffer) {
    Log("<AXIP> OnDataAvailable: Datagram too long (" + std::to_string(std::max(waiting, count)) + "), discarded");
  } else if (count == 0) {
    Log("<AXIP> OnDataAvailable: Invalid Message, discarded");
  } else if (count < 0) {
    Log("<AXIP> OnDataAvailable: Invalid Frame Length (" + std::to_string(count) + ") Error(" +
        std::to_string(sender->LastError()) + ") discarded");
  } else {
    return true;
  }
  DropBad(TDrop::BadLength);
  return false;
}

void TForm1::OnDatagram(TCustomWSocket* listener, const char* bytes, size_t count, const TSockAddr& from) {
  try {
    std::string data;
    if (!Checked(bytes, count, from, data)) return;
    if (FFollow) Follow(listener, from);
    if (FMode == kModeDirect) {
      Deliver(FXNet[1].AGWPort, data);
    } else if (FMode == kModeCache) {
      DeliverCached(data);
    } else {
      DeliverMapped(listener, data);
    }
  } catch (...) {
    Log("<AXIP> Exception on module OnDataAvailable");
  }
}

// True with the frame behind a port byte when the datagram came from an
// accepted sender and its FCS is right.
bool TForm1::Checked(const char* bytes, size_t count, const TSockAddr& from, std::string& data) {
  if (!Accepted(from)) return false;
  if (Tracing(3)) Log("<AXIP> OnDataAvailable: Frame from (" + from.Text() + ") Len(" + std::to_string(count) + ")", 3);
  if (FLog) FLog->DumpBuffer(4, bytes, static_cast<uint32_t>(count));
  const uint16_t crc = FCRC.ComputeCRC(bytes, count);
  // No one-byte datagram has the residue; the test keeps the cut below safe.
  if (crc != TCRC::kResidue || count < 2) {
    Log("<AXIP> OnDataAvailable: Computed CRC(" + WordToHex(crc) + ") is wrong");
    DropBad(TDrop::BadCrc);
    return false;
  }
  if (Tracing(4)) Log("<AXIP> OnDataAvailable: Computed CRC(" + WordToHex(crc) + ") is OK", 4);
  data.reserve(count - 1);
  data.assign(1, '\0').append(bytes, count - 2);
  return true;
}

// CACHE: the port the cache knows, else every channel from the radio port.
void TForm1::DeliverCached(const std::string& data) {
  const int32_t port = GetCache(data);
  if (port != 0) {
    Deliver(port, data);
    return;
  }
  Log("<AXIP> OnDataAvailable: Not resolved, sending thru all ports", 3);
  if (FChannels == 0) {
    Log("<AXIP> OnDataAvailable: Nul number of Channels", 3);
    DropIp(TDrop::NotMapped);
    return;
  }
  // The channel range from its first port the engine has, as far as
  // the engine's ports go; it keeps at most 16 whatever count it sent.
  const int64_t first = std::max(FRadioPort, int32_t{1});
  const int64_t last = std::min({first + FChannels - 1, int64_t{FEngine->PortCount()}, int64_t{kMaxPorts}});
  for (int64_t i = first; i <= last; ++i) {
    Log("<AXIP> OnDataAvailable: Sending Frame thru Port(" + std::to_string(i) + ")", 3);
    Transmit(static_cast<int32_t>(i), data);
  }
  if (last < first) DropIp(TDrop::NotMapped);
}

void TForm1::Follow(TCustomWSocket* listener, const TSockAddr& from) {
  const int entry = EntryOf(listener);
  if (entry == 0 || !from.Valid() || FFollowed[entry] == from) return;
  FFollowed[entry] = from;
  Log("<AXIP> Node for " + FXNet[entry].Label + " now at " + from.Text());
}

int TForm1::EntryOf(const TCustomWSocket* listener) const {
  const auto heardOn = [this, listener](int i) {
    return FSockets[i].get() == listener || (FSockets6[i] && FSockets6[i].get() == listener);
  };
  if (FMode != kModeMap) return heardOn(1) ? 1 : 0;
  for (int i = 1; i <= kXNetEntries && FXNet[i].AGWPort != 0; ++i) {
    if (heardOn(i)) return i;
  }
  return 0;
}

// MAP: the radio port of the entry whose listener received the datagram.
void TForm1::DeliverMapped(TCustomWSocket* sender, const std::string& data) {
  if (const int entry = EntryOf(sender); entry != 0) {
    Deliver(FXNet[entry].AGWPort, data);
    return;
  }
  Log("<AXIP> OnDataAvailable: Unknown operating mode, discard");
  DropIp(TDrop::NotMapped);
}

bool TForm1::Accepted(const TSockAddr& from) {
  if (FAcceptList.Empty() || !FHostNames) return true;
  switch (FAcceptList.Judge(from, *FHostNames)) {
    case TAcceptList::Verdict::Accepted: return true;
    case TAcceptList::Verdict::NotYetKnown:
      Log("<AXIP> OnDataAvailable: Not Ready, Frame Discarded");
      DropIp(TDrop::NotReady);
      return false;
    case TAcceptList::Verdict::Refused: break;
  }
  Log("<AXIP> OnDataAvailable: Frame from (" + from.Text() + ") not accepted, discarded");
  DropBad(TDrop::NotAccepted);
  return false;
}

void TForm1::Deliver(int32_t port, const std::string& data) {
  if (Tracing(3)) Log("<AXIP> OnDataAvailable: Sending Info to AGWPE Port(" + std::to_string(port) + ")", 3);
  Dump(data, 4);
  if (Transmit(port, data)) ShowActivity();
}

bool TForm1::Transmit(int32_t port, const std::string& data) {
  if (Tracing(3)) Log(MonitorLine("I>R", port, data.substr(1)), 3);
  if (!Transmitted(port, FEngine->SendRaw(port, data), data.size() - 1)) return false;
  HeardFrame(THeardDirection::IpToRadio, port, data.substr(1));
  return true;
}

bool TForm1::Transmitted(int32_t port, TSendResult result, size_t bytes) {
  switch (result) {
    case TSendResult::Sent:
      FCounters.Forwarded(FCounters.IpToRadio, bytes);
      return true;
    case TSendResult::LinkDown: DropIp(TDrop::NoEngine); break;
    case TSendResult::LinkFull:
      if (FFullLoggedAt < 0 || loop_.Now() - FFullLoggedAt >= 1000) {
        FFullLoggedAt = loop_.Now();
        Log(std::string("<AXIP> OnDataAvailable: ") + FEngine->Kind() + " link full, frames discarded");
      }
      DropIp(TDrop::EngineFull);
      break;
    case TSendResult::NoSuchPort:
      if (std::find(FMissingPorts.begin(), FMissingPorts.end(), port) == FMissingPorts.end()) {
        FMissingPorts.push_back(port);
        Log("<AXIP> OnDataAvailable: Port(" + std::to_string(port) + ") not at the " + FEngine->Kind() +
            " engine, frames for it discarded");
      }
      DropIp(TDrop::NoEnginePort);
      break;
    case TSendResult::TooLong: DropIp(TDrop::BadLength); break;
    case TSendResult::Failed: DropIp(TDrop::SendFailed); break;
  }
  return false;
}

void TForm1::OnInError(TCustomWSocket* sender, int32_t error, const std::string& msg) {
  try {
    Log("<AXIP> OnInError Listener Port(" + sender->Port() + "): " + SocketReason(error, msg));
  } catch (...) {
    Log("<AXIP> Exception on module OnInError");
  }
}

void TForm1::OnOutError(TCustomWSocket*, int32_t error, const std::string& msg) {
  FOutFailed = true;
  Log("<AXIP> OnOutError: " + SocketReason(error, msg));
}

}  // namespace ovlar
