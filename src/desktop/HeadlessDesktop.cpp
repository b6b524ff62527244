#include "desktop/HeadlessDesktop.h"

#include <unistd.h>

#include <cstdio>

namespace ovlar {

namespace {

const char* StateText(TrayIcon icon) {
  switch (icon) {
    case TrayIcon::XOn: return "idle                  ";
    case TrayIcon::XOff: return "forwarding            ";
    default: return "AGWPE link unknown    ";
  }
}

}  // namespace

HeadlessDesktop::HeadlessDesktop(EventLoop& loop) : loop_(loop), terminal_(isatty(STDERR_FILENO) == 1) {}

void HeadlessDesktop::EndStateLine() {
  if (shown_) std::fputc('\n', stderr);
  shown_ = false;
}

MsgResult HeadlessDesktop::MessageBox(const std::string& text, const std::string& caption, MsgButtons) {
  EndStateLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return MsgResult::Ok;
}

void HeadlessDesktop::Notice(const std::string& line) {
  const bool shown = shown_;
  if (shown) std::fputs("\r\033[K", stderr);
  shown_ = false;
  Desktop::Notice(line);
  if (shown) ShowState();
}

void HeadlessDesktop::ShowState() {
  if (!terminal_ || !iconPresent_) return;
  // The tip's length changes with the counters: clear what a longer one left.
  std::fprintf(stderr, "\r%s: %s\033[K", tip_.c_str(), StateText(icon_));
  std::fflush(stderr);
  shown_ = true;
}

bool HeadlessDesktop::AddTrayIcon(TrayIcon icon, const std::string& tip, std::function<void(int)>) {
  iconPresent_ = true;
  icon_ = icon;
  tip_ = tip;
  ShowState();
  return true;
}

bool HeadlessDesktop::ModifyTrayIcon(TrayIcon icon) {
  if (!iconPresent_) return false;
  // Every forwarded frame asks for XOFF again; only changes are worth a write.
  if (icon != icon_) {
    icon_ = icon;
    ShowState();
  }
  return true;
}

void HeadlessDesktop::SetTrayTip(const std::string& tip) {
  if (!iconPresent_ || tip == tip_) return;
  tip_ = tip;
  ShowState();
}

bool HeadlessDesktop::DeleteTrayIcon() {
  EndStateLine();
  iconPresent_ = false;
  return true;
}

void HeadlessDesktop::ShowAbout(const AboutContent& content) {
  EndStateLine();
  std::fprintf(stderr, "%s: %s\n%s\n%s\n", content.Caption.c_str(), content.ProductName.c_str(),
               content.Copyright.c_str(), content.Programmer.c_str());
}

bool HeadlessDesktop::OpenDocument(const std::string& url) {
  EndStateLine();
  std::fprintf(stderr, "Help: %s\n", url.c_str());
  return false;
}

}  // namespace ovlar
