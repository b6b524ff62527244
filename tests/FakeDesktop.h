// A desktop for tests: records what the bridge asked of it and answers
// message boxes as told.
#pragma once
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace ovlar::test {

class FakeDesktop : public Desktop {
 public:
  MsgResult Answer = MsgResult::Ok;
  std::vector<std::string> Boxes;  // "caption|text"
  int Terminated = 0;

  MsgResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override {
    Boxes.push_back(caption + "|" + text);
    return buttons == MsgButtons::Ok ? MsgResult::Ok : Answer;
  }
  void Terminate() override { ++Terminated; }
};

}  // namespace ovlar::test
