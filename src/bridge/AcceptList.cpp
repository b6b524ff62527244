#include "bridge/AcceptList.h"

#include <algorithm>

#include "net/WSocketResolve.h"
#include "support/ReqLib32.h"

namespace ovlar {

TAcceptList::TAcceptList(const std::string& text, const std::string& node) {
  std::string rest = text;
  while (!rest.empty()) {
    std::string entry = TrimBlanks(SplitAt(rest, ','));
    if (UpperText(entry) == "XNET") {
      entry = node;
      nodes_ = true;
    }
    Take(entry);
  }
}

void TAcceptList::AddNode(const std::string& host) {
  if (nodes_) Take(host);
}

void TAcceptList::Take(const std::string& host) {
  if (!host.empty() && std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) hosts_.push_back(host);
}

TAcceptList::Verdict TAcceptList::Judge(const TSockAddr& sender, const THostNames& names) const {
  if (hosts_.empty()) return Verdict::Accepted;
  bool allAnswered = true;
  for (const std::string& host : hosts_) {
    const std::vector<TSockAddr>& addresses = names.Addresses(host);
    const auto same = [&sender](const TSockAddr& a) { return a.SameHost(sender); };
    if (std::find_if(addresses.begin(), addresses.end(), same) != addresses.end()) return Verdict::Accepted;
    allAnswered = allAnswered && names.Answered(host);
  }
  return allAnswered ? Verdict::Refused : Verdict::NotYetKnown;
}

}  // namespace ovlar
