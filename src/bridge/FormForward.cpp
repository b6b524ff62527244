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

}  // namespace

// ---- Radio to IP ----

void TForm1::OnKissBefore(TL2*, int32_t port, const std::string& data) {
  try {
    if (Tracing(3)) Log("<L2> <OnKissBefore> Port(" + std::to_string(port) + ")", 3);
    Dump(data, 4);
    if (!FReady || !FNodeKnown) {
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
    const std::string datagram = FL2->CRC().AppendFCS(frame);
    if (Tracing(4)) Log("<AXIP> Send: CRC Computed for Frame(" + WordToHex(FcsOf(datagram)) + ")", 4);
    if (FMode != kModeMap) {
      Log("<AXIP> Sending DIRECT/CACHE", 4);
      SendDatagram(datagram, FXNetPort);
      return;
    }
    bool delivered = false;
    for (int i = 1; i <= kXNetEntries && FXNet[i].AGWPort != 0; ++i) {
      if (FXNet[i].AGWPort != port) continue;
      Log("<AXIP> Sending Frame Len(" + std::to_string(datagram.size()) + ") to (" + FXNetAddress + ":" +
              std::to_string(FXNet[i].RemoteUDP) + ")",
          3);
      Log("<AXIP> Sending MAP", 4);
      SendDatagram(datagram, FXNet[i].RemoteUDP);
      delivered = true;
    }
    if (!delivered) {
      Log("<AXIP> Frame not delivered, destination port not mapped", 4);
      DropRadio(TDrop::NotMapped);
    }
  } catch (...) {
    Log("<AXIP> Exception on module OnKissBefore");
  }
}

void TForm1::SendDatagram(const std::string& datagram, int32_t port) {
  if (FKeptSockets) {
    FKeptSockets->Send(FNodeAddress, port, datagram);
    ShowActivity();
    return;
  }
  FUDPClient->SetProto("udp");
  FUDPClient->SetAddr(FNodeAddress);
  FUDPClient->SetPort(std::to_string(port));
  FUDPClient->ComponentOptions = wsoNoReceiveLoop;
  FUDPClient->Connect();
  FUDPClient->Send(datagram.data(), static_cast<int>(datagram.size()));
  FUDPClient->Close();
  FCounters.Forwarded(FCounters.RadioToIp, datagram.size());
  ShowActivity();
}

// ---- IP to radio ----

void TForm1::OnDataAvailable(TCustomWSocket* sender, uint16_t error) {
  try {
    if (Tracing(1)) Log("<AXIP> OnDataAvailable: Error(" + std::to_string(error) + ") Listener(" + sender->Port() + ")");
    std::string data;
    if (!ReceiveChecked(sender, data)) return;
    if (FMode == kModeDirect) {
      Deliver(FXNet[1].AGWPort, data);
    } else if (FMode == kModeCache) {
      DeliverCached(data);
    } else {
      DeliverMapped(sender, data);
    }
  } catch (...) {
    Log("<AXIP> Exception on module OnDataAvailable");
  }
}

// Reads one datagram; true with the frame behind a port byte when it came
// whole from an accepted sender and its FCS is right.
bool TForm1::ReceiveChecked(TCustomWSocket* sender, std::string& data) {
  // One byte more than a datagram may have tells a longer one apart.
  char buffer[kReceiveBuffer + 1];
  sockaddr_in from{};
  int fromLength = sizeof from;
  if (!FReady) {
    Log("<AXIP> OnDataAvailable: Not Ready, Frame Discarded");
    sender->ReceiveFrom(buffer, sizeof buffer, from, fromLength);
    DropIp(TDrop::NotReady);
    return false;
  }
  // The platform tells the whole length of the datagram waiting.
  const int32_t waiting = sender->RcvdCount();
  const int count = sender->ReceiveFrom(buffer, sizeof buffer, from, fromLength);
  if (count > kReceiveBuffer) {
    Log("<AXIP> OnDataAvailable: Datagram too long (" + std::to_string(std::max(waiting, count)) + "), discarded");
    DropIp(TDrop::BadLength);
    return false;
  }
  if (count == 0) {
    Log("<AXIP> OnDataAvailable: Invalid Message, discarded");
    DropIp(TDrop::BadLength);
    return false;
  }
  if (count < 0) {
    Log("<AXIP> OnDataAvailable: Invalid Frame Length (" + std::to_string(count) + ") Error(" +
        std::to_string(sender->LastError()) + ") discarded");
    DropIp(TDrop::BadLength);
    return false;
  }
  if (!Accepted(from)) return false;
  if (Tracing(3)) {
    Log("<AXIP> OnDataAvailable: Frame from (" + wsock::InetNtoa(from.sin_addr.s_addr) + ":" +
            std::to_string(ntohs(from.sin_port)) + ") Len(" + std::to_string(count) + ")",
        3);
  }
  if (FLog) FLog->DumpBuffer(4, buffer, static_cast<uint32_t>(count));
  const uint16_t crc = FL2->CRC().ComputeCRC(buffer, static_cast<size_t>(count));
  if (crc != TCRC::kResidue) {
    Log("<AXIP> OnDataAvailable: Computed CRC(" + WordToHex(crc) + ") is wrong");
    DropIp(TDrop::BadCrc);
    return false;
  }
  if (Tracing(4)) Log("<AXIP> OnDataAvailable: Computed CRC(" + WordToHex(crc) + ") is OK", 4);
  data = std::string(1, '\0') + std::string(buffer, static_cast<size_t>(count) - 2);
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
  const int64_t last = std::min({first + FChannels - 1, int64_t{FL2->PortCount()}, int64_t{kMaxPorts}});
  for (int64_t i = first; i <= last; ++i) {
    Log("<AXIP> OnDataAvailable: Sending Frame thru Port(" + std::to_string(i) + ")", 3);
    Transmit(static_cast<int32_t>(i), data);
  }
  if (last < first) DropIp(TDrop::NotMapped);
}

// MAP: the radio port of the entry whose listener received the datagram.
void TForm1::DeliverMapped(TCustomWSocket* sender, const std::string& data) {
  for (int i = 1; i <= kXNetEntries && FXNet[i].AGWPort != 0; ++i) {
    if (FSockets[i].get() == sender) {
      Deliver(FXNet[i].AGWPort, data);
      return;
    }
  }
  Log("<AXIP> OnDataAvailable: Unknown operating mode, discard");
  DropIp(TDrop::NotMapped);
}

bool TForm1::Accepted(const sockaddr_in& from) {
  if (FAcceptList.Empty() || !FHostNames) return true;
  switch (FAcceptList.Judge(from.sin_addr.s_addr, *FHostNames)) {
    case TAcceptList::Verdict::Accepted: return true;
    case TAcceptList::Verdict::NotYetKnown:
      Log("<AXIP> OnDataAvailable: Not Ready, Frame Discarded");
      DropIp(TDrop::NotReady);
      return false;
    case TAcceptList::Verdict::Refused: break;
  }
  Log("<AXIP> OnDataAvailable: Frame from (" + wsock::InetNtoa(from.sin_addr.s_addr) + ":" +
      std::to_string(ntohs(from.sin_port)) + ") not accepted, discarded");
  DropIp(TDrop::NotAccepted);
  return false;
}

void TForm1::Deliver(int32_t port, const std::string& data) {
  if (Tracing(3)) Log("<AXIP> OnDataAvailable: Sending Info to AGWPE Port(" + std::to_string(port) + ")", 3);
  Dump(data, 4);
  Transmit(port, data);
  ShowActivity();
}

void TForm1::Transmit(int32_t port, const std::string& data) {
  if (Tracing(3)) Log(MonitorLine("I>R", port, data.substr(1)), 3);
  if (FL2->SendKiss(port, data)) {
    FCounters.Forwarded(FCounters.IpToRadio, data.size() - 1);
  } else {
    DropIp(TDrop::NoEngine);
  }
}

void TForm1::OnInError(TCustomWSocket* sender) {
  try {
    Log("<AXIP> OnInError Listener Port(" + sender->Port() + ")");
  } catch (...) {
    Log("<AXIP> Exception on module OnInError");
  }
}

void TForm1::OnOutError(TCustomWSocket*) { Log("<AXIP> OnOutError"); }

}  // namespace ovlar
