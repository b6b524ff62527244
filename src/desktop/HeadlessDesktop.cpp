#include "desktop/HeadlessDesktop.h"

#include <cstdio>

namespace ovlar {

MsgResult HeadlessDesktop::MessageBox(const std::string& text, const std::string& caption, MsgButtons) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return MsgResult::Ok;
}

}  // namespace ovlar
