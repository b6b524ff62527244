// The processes the benchmark measures, each started in a scratch folder of
// its own and stopped by its process id: Ovlar (by default, or with
// KEEPSOCKET), a bare relay that makes the same system calls per frame as
// either, and ax25ipd relaying KISS from a pseudo-terminal to UDP. Bench only.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace bench {

enum class Kind { Relay, RelayKept, Ovlar, OvlarKept, Ax25ipd };

struct Subject {
  Kind kind = Kind::Ovlar;
  pid_t pid = -1;
  pid_t helper = -1;     // socat, for ax25ipd
  int tcp = -1;          // our end of its AGWPE connection
  int pty = -1;          // our end of its KISS line (ax25ipd)
  uint16_t listen = 0;   // its UDP listener
  int sink = -1;         // where it sends datagrams
  std::string dir;
};

const char* Name(Kind kind);
bool Ax25ipdInstalled();
// Returns once the subject forwards; pid -1 when it could not be started.
Subject Launch(Kind kind);
void Stop(Subject& s);

// A frame the subject is to carry from radio to IP: a 'K' frame on its
// AGWPE connection, or a KISS frame on its line.
void SendFromRadio(const Subject& s, const std::string& frame);
// Bytes that carry the frames at once, in the subject's radio-side form.
std::string RadioBytes(const Subject& s, const std::string& frame);

long RssKb(pid_t pid);
// User plus system time of the process so far, in microseconds.
int64_t CpuMicros(pid_t pid);

}  // namespace bench
