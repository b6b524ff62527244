// A desktop for tests: records what the bridge asked of it, answers message
// boxes as told, and lets a test click the icon and the menu.
#pragma once
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace ovlar::test {

class FakeDesktop : public Desktop {
 public:
  MsgResult Answer = MsgResult::Ok;
  std::vector<std::string> Boxes;  // "caption|text"
  std::vector<std::string> Notices;
  std::vector<std::string> Calls;  // everything else, in order
  std::vector<TrayIcon> Icons;     // every picture shown, in order
  std::vector<std::string> Tips;   // every tip set after the icon was added
  std::vector<MenuItem> Menu;
  std::vector<AboutContent> Abouts;
  std::function<void(int)> OnMouse;
  bool IconPresent = false;
  bool MainWindowHidden = false;
  int Terminated = 0;

  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override {
    Boxes.push_back(caption + "|" + text);
    return buttons == MsgButtons::Ok ? MsgResult::Ok : Answer;
  }
  void Notice(const std::string& line) override { Notices.push_back(line); }
  void Terminate() override {
    ++Terminated;
    Calls.push_back("terminate");
  }
  bool AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int)> onMouse) override {
    IconPresent = true;
    Icons.push_back(icon);
    OnMouse = std::move(onMouse);
    Calls.push_back("add icon " + tip);
    return true;
  }
  bool ModifyTrayIcon(TrayIcon icon) override {
    Icons.push_back(icon);
    return IconPresent;
  }
  void SetTrayTip(const std::string& tip) override { Tips.push_back(tip); }
  bool DeleteTrayIcon() override {
    IconPresent = false;
    Calls.push_back("delete icon");
    return true;
  }
  void SetPopupMenu(std::vector<MenuItem> items) override { Menu = std::move(items); }
  void PopupMenuAtCursor() override { Calls.push_back("popup"); }
  void ShowAbout(const AboutContent& content) override { Abouts.push_back(content); }
  bool OpenDocument(const std::string& url) override {
    Calls.push_back("open " + url);
    return true;
  }
  void SetApplicationTitle(const std::string& title) override { Calls.push_back("title " + title); }
  void SetApplicationIcon(const std::string& ico) override { Calls.push_back("app icon " + std::to_string(ico.size())); }
  void SetMainWindowCaption(const std::string& caption) override { Calls.push_back("caption " + caption); }
  void HideMainWindow() override {
    MainWindowHidden = true;
    Calls.push_back("hide");
  }
  TrayIcon Current() const { return Icons.empty() ? TrayIcon::XUnknown : Icons.back(); }
  // Clicks a menu item by its caption.
  void Click(const std::string& caption) {
    for (auto& item : Menu) {
      if (item.Caption == caption) item.OnClick();
    }
  }
};

}  // namespace ovlar::test
