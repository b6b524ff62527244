// The [XNET] ACCEPT list: the hosts whose AXIP datagrams may reach the
// radio. Entries are IPv4 or IPv6 addresses or host names separated by
// commas; the
// word XNET stands for every node host (XNET ADDRESS and the HOST of each
// table entry). An empty list accepts every sender.
// A value type; its names are looked up by THostNames.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/HostNames.h"

namespace ovlar {

class TAcceptList {
 public:
  enum class Verdict { Accepted, Refused, NotYetKnown };

  TAcceptList() = default;
  // `node` is XNET ADDRESS, which the word XNET stands for.
  TAcceptList(const std::string& text, const std::string& node);

  bool Empty() const { return hosts_.empty(); }
  // A table entry's node host: listed when the word XNET is.
  void AddNode(const std::string& host);
  // The entries as THostNames knows them, in the order written.
  const std::vector<std::string>& Hosts() const { return hosts_; }
  // Refused only when every entry has had its first answer: a name not
  // answered yet might be the sender's.
  Verdict Judge(const TSockAddr& sender, const THostNames& names) const;

 private:
  void Take(const std::string& host);

  std::vector<std::string> hosts_;
  bool nodes_ = false;  // the word XNET was written
};

}  // namespace ovlar
