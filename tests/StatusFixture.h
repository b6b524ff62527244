// The whole bridge with its status page: CACHE mode, listening for AXIP on
// its own port (so every frame heard comes back as a datagram to transmit),
// a node that sends from elsewhere, and the status page on a free port.
#pragma once
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "BridgeFixture.h"
#include "HttpClient.h"

namespace ovlar::test {

// A TCP port that was free a moment ago.
inline uint16_t FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  const uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

// Socket inodes of this process's listening TCP sockets: its descriptors
// matched against the kernel's table of sockets in state LISTEN (0A).
inline std::set<unsigned long> ListeningTcpSockets() {
  std::set<unsigned long> listening;
  std::ifstream table("/proc/self/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state, queues, timer, retr, uid, timeout;
    unsigned long inode = 0;
    in >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
    if (state == "0A") listening.insert(inode);
  }
  std::set<unsigned long> ours;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      struct stat st {};
      if (stat(("/proc/self/fd/" + std::string(e->d_name)).c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
          listening.count(st.st_ino)) {
        ours.insert(st.st_ino);
      }
    }
    closedir(d);
  }
  return ours;
}

class StatusFixture : public BridgeFixture {
 protected:
  // The status keys go first: the first occurrence of a key wins.
  void StartWithStatus(const std::string& status = "") {
    local_ = FreeUdpPort();
    web_ = FreeTcpPort();
    Start(status + "[STATUS]\nPORT=" + std::to_string(web_) + "\n[OVLAR]\nMODE=1\n[XNET]\nPORT=" +
          std::to_string(local_) + "\n[ROUTES]\nDB0ABC-5=1\n");
  }
  // Frames from the radio side and from the node, one each.
  void RadioFrame() { Hear(1, heard_); }
  void NodeFrame() { node_.SendTo(local_, WithFcs(fromNode_)); }
  HttpResponse Get(const std::string& path) { return HttpClient::Get(loop_, web_, path); }

  const std::string heard_ = Ax25Frame("XNODE", 0, "N0CALL", 1, 0x3F);
  const std::string fromNode_ = Ax25Frame("N0CALL", 1, "DB0ABC", 0, 0x00, "down");
  uint16_t local_ = 0;
  uint16_t web_ = 0;
  UdpPeer node_;
};

}  // namespace ovlar::test
