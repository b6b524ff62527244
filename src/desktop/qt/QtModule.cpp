// The entry point of the desktop module, which the program loads when a
// display answers: Qt's application and the tray, on the program's loop.
#include <QApplication>

#include "desktop/DesktopModule.h"
#include "desktop/qt/QtDesktop.h"

namespace ovlar {
namespace {

class QtFrontEnd : public FrontEnd {
 public:
  // The windows take their class from the name, whatever the program's file is called.
  explicit QtFrontEnd(EventLoop& loop) : app_(argc_, argv_), desktop_(loop) { QApplication::setApplicationName("ovlar"); }

  Desktop& Surface() override { return desktop_; }
  void Run() override {
    desktop_.ShowMainWindowUnlessHidden();
    desktop_.Exec();
  }

 private:
  // Qt holds on to these while the application lives. The command line is
  // the program's, so Qt sees only the name.
  int argc_ = 1;
  char name_[6] = "ovlar";
  char* argv_[2] = {name_, nullptr};
  QApplication app_;
  QtDesktop desktop_;
};

}  // namespace
}  // namespace ovlar

extern "C" ovlar::FrontEnd* OvlarDesktopFrontEnd(ovlar::EventLoop* loop) { return new ovlar::QtFrontEnd(*loop); }
