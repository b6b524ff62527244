// The entry point of the desktop module, which the program loads when a
// display answers.
#include "desktop/DesktopModule.h"
#include "desktop/qt/QtMain.h"

extern "C" int OvlarRunDesktop(int argc, char** argv, ovlar::EventLoop* loop, ovlar::SignalBinder* onSignal) {
  return ovlar::RunOnQt(argc, argv, *loop, *onSignal);
}
