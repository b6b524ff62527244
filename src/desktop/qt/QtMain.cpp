#include "desktop/qt/QtMain.h"

#include <QApplication>

#include "bridge/Form1.h"
#include "desktop/qt/QtDesktop.h"

namespace ovlar {

int RunOnQt(int argc, char** argv, EventLoop& loop, const std::function<void(std::function<void()>)>& onSignal) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ovlar");
  QtDesktop desktop(loop);
  TForm1 form(loop, desktop);
  // A signal shuts down as a confirmed Shutdown command does.
  onSignal([&] {
    desktop.ConfirmNextExit();
    form.ExitClick();
  });
  form.FormCreate();
  desktop.ShowMainWindowUnlessHidden();
  desktop.Exec();
  return form.ConfigError() ? 1 : 0;
}

}  // namespace ovlar
