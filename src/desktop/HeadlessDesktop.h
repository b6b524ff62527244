// The desktop of a daemon: message-box texts go to stderr and are answered
// with OK, since nobody is there to press Cancel; when stderr is a terminal
// the notification icon's state is shown there on one line, which notices
// interrupt and put back. Event-loop
// thread only.
#pragma once
#include "platform/Desktop.h"
#include "platform/EventLoop.h"

namespace ovlar {

class HeadlessDesktop : public Desktop {
 public:
  explicit HeadlessDesktop(EventLoop& loop);

  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override;
  void Notice(const std::string& line) override;
  void Terminate() override { loop_.Quit(); }
  bool AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int)> onMouse) override;
  bool ModifyTrayIcon(TrayIcon icon) override;
  void SetTrayTip(const std::string& tip) override;
  bool DeleteTrayIcon() override;
  void SetPopupMenu(std::vector<MenuItem>) override {}
  void PopupMenuAtCursor() override {}
  void ShowAbout(const AboutContent& content) override;
  bool OpenDocument(const std::string& url) override;
  void SetApplicationTitle(const std::string&) override {}
  void SetApplicationIcon(const std::string&) override {}
  void SetMainWindowCaption(const std::string&) override {}
  void HideMainWindow() override {}

 private:
  void ShowState();
  void EndStateLine();

  EventLoop& loop_;
  bool terminal_;
  bool shown_ = false;
  bool iconPresent_ = false;
  TrayIcon icon_ = TrayIcon::XUnknown;
  std::string tip_;
};

}  // namespace ovlar
