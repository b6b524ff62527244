#include "bridge/Cache.h"

#include <algorithm>

namespace ovlar {

TCache* TCacheList::Find(const std::string& station, int32_t port) {
  auto it = byStation_.find(station);
  if (it == byStation_.end()) return nullptr;
  for (Entry e : it->second) {
    if (e->HeardPort != port) continue;
    if (auto at = heardAt_.find(&*e); at != heardAt_.end()) heard_.splice(heard_.end(), heard_, at->second);
    return &*e;
  }
  return nullptr;
}

TCache* TCacheList::Append(int32_t port, const std::string& station, uint8_t fixed) {
  if (fixed == 0 && heard_.size() >= kMaxLearned && !Remove(&*heard_.front())) return nullptr;
  entries_.push_back({port, station, fixed});
  const Entry e = std::prev(entries_.end());
  byStation_[station].push_back(e);
  if (fixed == 0) heardAt_[&*e] = heard_.insert(heard_.end(), e);
  return &*e;
}

std::vector<const TCache*> TCacheList::OfStation(const std::string& station) const {
  std::vector<const TCache*> found;
  auto it = byStation_.find(station);
  if (it != byStation_.end()) {
    for (Entry e : it->second) found.push_back(&*e);
  }
  return found;
}

bool TCacheList::Remove(const TCache* entry) {
  if (!entry) return false;
  auto it = byStation_.find(entry->Station);
  if (it == byStation_.end()) return false;
  auto& list = it->second;
  auto pos = std::find_if(list.begin(), list.end(), [&](Entry e) { return &*e == entry; });
  if (pos == list.end()) return false;
  if (auto at = heardAt_.find(entry); at != heardAt_.end()) {
    heard_.erase(at->second);
    heardAt_.erase(at);
  }
  entries_.erase(*pos);
  list.erase(pos);
  if (list.empty()) byStation_.erase(it);
  return true;
}

std::string FrameType(uint8_t control) {
  if ((control & 0x01) == 0) return "I";
  switch (control & 0x0F) {
    case 0x01: return "RR";
    case 0x05: return "RNR";
    case 0x09: return "REJ";
    default: break;
  }
  switch (control & 0xEF) {
    case 0x2F: return "SABM";
    case 0x43: return "DISC";
    case 0x0F: return "DM";
    case 0x63: return "UA";
    case 0x87: return "FRMR";
    case 0x03: return "UI";
    default: return "";
  }
}

}  // namespace ovlar
