// The desktop front end on Qt Widgets: the notification icon and its menu,
// message boxes, the about box, the hidden main window, and the program's
// event loop run from inside Qt's. Construct after the QApplication.
// GUI thread only.
#pragma once
#include <QIcon>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <exception>
#include <memory>

#include "platform/Desktop.h"
#include "platform/EventLoop.h"

namespace ovlar {

class QtDesktop : public Desktop {
 public:
  explicit QtDesktop(EventLoop& loop);
  ~QtDesktop() override;

  // Runs Qt's loop, and with it the program's, until Terminate; raises what
  // a turn of the program's loop raised.
  int Exec();
  // The next exit confirmation is answered with OK, as for a signal.
  void ConfirmNextExit() { confirmNext_ = true; }
  // The main window appears unless start-up hid it.
  void ShowMainWindowUnlessHidden();

  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override;
  void Terminate() override;
  bool AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int)> onMouse) override;
  bool ModifyTrayIcon(TrayIcon icon) override;
  void SetTrayTip(const std::string& tip) override;
  bool DeleteTrayIcon() override;
  void SetPopupMenu(std::vector<MenuItem> items) override;
  void PopupMenuAtCursor() override;
  void ShowAbout(const AboutContent& content) override;
  bool OpenDocument(const std::string& url) override;
  void SetApplicationTitle(const std::string& title) override;
  void SetApplicationIcon(const std::string& icoBytes) override;
  void SetMainWindowCaption(const std::string& caption) override;
  void HideMainWindow() override;

 private:
  void Pump();

  EventLoop& loop_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer timer_;
  std::unique_ptr<QWidget> mainWindow_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> menu_;
  std::vector<MenuItem> items_;
  std::function<void(int)> onMouse_;
  bool hidden_ = false;
  bool confirmNext_ = false;
  bool pumping_ = false;
  std::exception_ptr failure_;
};

// The picture of a notification-icon state, from the program's resources.
QIcon TrayPicture(TrayIcon icon);
// An icon from the bytes of an .ico file; null when they are no icon.
QIcon IconFromIco(const std::string& icoBytes);

}  // namespace ovlar
