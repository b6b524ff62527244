// The desktop front end lives in a module that the program loads only when
// a display answers. The module brings the desktop and its event loop; the
// core, and with it the one bridge, stays the program's: the module links
// nothing of it and resolves the core's symbols from the program.
#pragma once
#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/EventLoop.h"

namespace ovlar {

// What the module gives the program: the desktop the bridge is to use, and
// the desktop's event loop, which runs the program's loop inside it.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  virtual Desktop& Surface() = 0;
  // Shows the main window unless start-up hid it, then runs until the
  // application ends; raises what a turn of the program's loop raised.
  virtual void Run() = 0;
};

// The module's entry: a new front end on the program's loop.
using DesktopEntry = FrontEnd* (*)(EventLoop* loop);

constexpr const char* kDesktopModule = "libovlar-desktop.so";
constexpr const char* kDesktopEntry = "OvlarDesktopFrontEnd";

// The module's front end, looked for in the program's folder and then in
// the library folder it was installed with; nullptr, with every file tried
// and why it failed, when there is none.
std::unique_ptr<FrontEnd> LoadDesktopFrontEnd(EventLoop& loop, std::string& why);

}  // namespace ovlar
