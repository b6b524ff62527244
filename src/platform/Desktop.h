// What the bridge needs from the desktop it runs on: the notification icon
// and its pop-up menu, message boxes, the about box, the browser, and the
// application's title, icon, main window and end. The bridge core sees only
// this interface; a Qt tray, a headless daemon and a test fake implement
// it. Event-loop thread only; a modal call keeps the event loop running
// unless it was made from inside a turn (EventLoop.h says why).
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace ovlar {

enum class MsgButtons { Ok, OkCancel };
enum class MsgResult { Ok, Cancel };
// The three pictures of the notification icon.
enum class TrayIcon { XUnknown, XOn, XOff };

// Mouse events the notification icon reports, numbered as window messages.
constexpr int kMouseMove = 512;
constexpr int kLeftButtonDown = 513;
constexpr int kLeftButtonUp = 514;
constexpr int kLeftButtonDoubleClick = 515;
constexpr int kRightButtonDown = 516;
constexpr int kRightButtonUp = 517;

struct MenuItem {
  std::string Caption;
  std::function<void()> OnClick;
};

// What the about box shows.
struct AboutContent {
  std::string Caption;
  std::string ProductName;
  std::string Copyright;
  std::string Programmer;
  std::string Website;
  std::string Icon;      // the bytes of an .ico file
  int AutoCloseMs = 0;   // 0: stays until OK
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  virtual MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) = 0;
  // One line for the person at the terminal, on stderr; a desktop that keeps
  // a line of its own there puts it back after.
  virtual void Notice(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  // Ends the application: the event loop returns after the current event.
  virtual void Terminate() = 0;

  // The notification icon; mouse events over it go to onMouse.
  virtual bool AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int mouseEvent)> onMouse) = 0;
  virtual bool ModifyTrayIcon(TrayIcon icon) = 0;
  // The icon's tip: one line of text, rewritten at most once a second.
  virtual void SetTrayTip(const std::string& tip) = 0;
  virtual bool DeleteTrayIcon() = 0;
  virtual void SetPopupMenu(std::vector<MenuItem> items) = 0;
  // Brings the main window forward and opens the menu at the mouse cursor.
  virtual void PopupMenuAtCursor() = 0;

  // Modal; returns when the box is closed.
  virtual void ShowAbout(const AboutContent& content) = 0;
  // Hands a document or URL to the user's browser; false when nothing took it.
  virtual bool OpenDocument(const std::string& url) = 0;

  virtual void SetApplicationTitle(const std::string& title) = 0;
  virtual void SetApplicationIcon(const std::string& icoBytes) = 0;
  virtual void SetMainWindowCaption(const std::string& caption) = 0;
  // Hides and disables the main window and keeps the application from
  // showing it.
  virtual void HideMainWindow() = 0;
};

}  // namespace ovlar
