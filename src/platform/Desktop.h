// What the bridge needs from the desktop it runs on. The bridge core sees
// only this interface; a Qt tray, a headless daemon and a test fake
// implement it. Event-loop thread only.
#pragma once
#include <string>

namespace ovlar {

enum class MsgButtons { Ok, OkCancel };
enum class MsgResult { Ok, Cancel };

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Modal: the event loop keeps running until the box is answered.
  virtual MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) = 0;
  // Ends the application: the event loop returns after the current event.
  virtual void Terminate() = 0;
};

}  // namespace ovlar
