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

TAcceptList::Verdict TAcceptList::Judge(uint32_t sender, const THostNames& names) const {
  if (hosts_.empty()) return Verdict::Accepted;
  bool allAnswered = true;
  for (const std::string& host : hosts_) {
    const std::vector<uint32_t>& addresses = names.Addresses(host);
    if (std::find(addresses.begin(), addresses.end(), sender) != addresses.end()) return Verdict::Accepted;
    allAnswered = allAnswered && names.Answered(host);
  }
  return allAnswered ? Verdict::Refused : Verdict::NotYetKnown;
}

}  // namespace ovlar
