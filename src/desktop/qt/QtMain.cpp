#include "desktop/qt/QtMain.h"

#include <QApplication>
#include <csignal>

#include "bridge/Form1.h"
#include "desktop/qt/QtDesktop.h"

namespace ovlar {

int RunOnQt(int argc, char** argv, EventLoop& loop, const std::function<void(std::function<void(int)>)>& onSignal) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ovlar");
  QtDesktop desktop(loop);
  TForm1 form(loop, desktop);
  // SIGUSR1 asks for the Status lines; the others shut down as a
  // confirmed Shutdown command does.
  onSignal([&](int signo) {
    form.OnSignal(signo);
  });
  form.FormCreate();
  desktop.ShowMainWindowUnlessHidden();
  desktop.Exec();
  return form.ConfigError() ? 1 : 0;
}

}  // namespace ovlar
