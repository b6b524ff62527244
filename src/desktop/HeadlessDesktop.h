// The desktop of a daemon: message boxes are written to stderr and answered
// with OK, since nobody is there to press Cancel. Event-loop thread only.
#pragma once
#include "platform/Desktop.h"
#include "platform/EventLoop.h"

namespace ovlar {

class HeadlessDesktop : public Desktop {
 public:
  explicit HeadlessDesktop(EventLoop& loop) : loop_(loop) {}
  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override;
  void Terminate() override { loop_.Quit(); }

 private:
  EventLoop& loop_;
};

}  // namespace ovlar
