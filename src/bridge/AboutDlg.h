// The about dialog component: holds what the about box shows and shows it
// modally through the desktop. Owns its copy of the icon.
#pragma once
#include <string>

#include "platform/Desktop.h"

namespace ovlar {

class TAboutDlg {
 public:
  static constexpr int kCloseAfterMs = 15000;

  std::string Title;
  std::string ProductName;
  std::string CopyRight;
  std::string Programmer;
  std::string WebSite;
  // When true the box closes by itself 15 s after it is shown.
  bool Timer = false;

  explicit TAboutDlg(Desktop& desktop) : desktop_(desktop) {}
  const std::string& Icon() const { return icon_; }
  void SetIcon(const std::string& icoBytes) { icon_ = icoBytes; }
  // Throws std::runtime_error when the file cannot be read.
  void LoadIcon(const std::string& path);
  void Execute();

 private:
  Desktop& desktop_;
  std::string icon_;
};

}  // namespace ovlar
