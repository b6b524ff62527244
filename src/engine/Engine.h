// The packet engine as the bridge sees it: a link that comes up and goes
// down, a number of radio ports, raw frames heard on them and raw frames to
// transmit. The AGWPE client and the KISS client stand behind it, so the
// forwarding, the counters and the supervision exist once. Owned by the
// bridge; event-loop thread only. Events fire from the engine's own socket
// or device events and from Close, never from inside SendRaw.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovlar {

// What became of a frame handed to the engine.
enum class TSendResult : uint8_t {
  Sent,        // written, or queued behind earlier bytes, in order
  LinkDown,    // no connection to the engine
  LinkFull,    // the engine has stopped reading: its link holds all it may
  NoSuchPort,  // the engine has no radio port of that number
  TooLong,     // longer than the engine's link can carry
  Failed,      // refused for another reason, which the engine has logged
};

// Why the engine itself dropped what it received, for the bridge's counters.
enum class TEngineDrop : uint8_t {
  NotMapped,  // on a port the settings do not give the engine, or not a data frame
  Malformed,  // broken framing, empty, or longer than the bridge carries
};

class TEngine {
 public:
  using TNotify = std::function<void(TEngine* Sender)>;
  // Port: 1-based radio port. Data: raw-frame data, one leading byte (the
  // engine's own: AGWPE's port byte, KISS's type byte), then the AX.25
  // frame without FCS.
  using THeard = std::function<void(TEngine* Sender, int32_t Port, const std::string& Data)>;

  // Event slots; an empty one is skipped.
  TNotify FOnUp;      // the connection is made (or the device opened)
  TNotify FOnDown;    // the link was closed: by the engine, or by Close
  TNotify FOnError;   // a connect failed, or the link broke with an error
  TNotify FOnPorts;   // the radio ports are known: frames may flow now
  THeard FOnHeard;    // a raw frame heard on a radio port
  // Something received that the engine dropped, once logged; AGWPE never does.
  std::function<void(TEngine* Sender, TEngineDrop Why)> FOnDropped;

  TEngine() = default;
  virtual ~TEngine() = default;
  TEngine(const TEngine&) = delete;
  TEngine& operator=(const TEngine&) = delete;

  // Starts connecting; a link that is up is left as it is.
  virtual void Open() = 0;
  // Drops the link; a connect or lookup under way is cancelled and reports
  // nothing later.
  virtual void Close() = 0;
  // Data as FOnHeard gives it; the leading byte is the engine's to fill in.
  virtual TSendResult SendRaw(int32_t port, const std::string& data) = 0;

  // Radio ports 1 to PortCount() exist.
  virtual int32_t PortCount() const = 0;
  // The port whose frames are the engine's own transmissions; 0: none.
  virtual int32_t LoopbackPort() const = 0;
  // Entries of the engine's own heard list for a port, each beginning with
  // the station's callsign; empty when the engine keeps none.
  virtual std::vector<std::string> Heard(int32_t port) const = 0;
  // The callsign the bridge goes by towards the engine.
  virtual std::string CallSign() const = 0;
  // The engine as the settings name it, for log lines and notices:
  // "127.0.0.1:8000", "/dev/ttyUSB0".
  virtual std::string Peer() const = 0;
  // Why the last connect or link failed; "connection closed" for a link
  // that was up.
  virtual std::string ErrorText() const = 0;
  // What the notices call it: "AGWPE", "KISS".
  virtual const char* Kind() const = 0;
};

}  // namespace ovlar
