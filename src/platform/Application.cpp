#include "platform/Application.h"

#include <cstdio>

namespace ovlar {

namespace {
std::function<void(const std::string&)>& Handler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}
}  // namespace

void SetApplicationExceptionHandler(std::function<void(const std::string& message)> handler) {
  Handler() = std::move(handler);
}

void ShowApplicationException(const std::exception& e) {
  if (Handler()) {
    Handler()(e.what());
  } else {
    std::fprintf(stderr, "Exception: %s\n", e.what());
  }
}

}  // namespace ovlar
