// The program as a user runs it: build/ovlar, headless, in a folder of its
// own with an OVLAR.INI; the test reads its log and stops it with a signal.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "DirewolfPair.h"
#include "Process.h"
#include "TestUtil.h"

namespace ovlar::test {

class OvlarProcess {
 public:
  OvlarProcess() {
  }
  ~OvlarProcess() {
    process_.Stop(SIGKILL);
  }
  const std::string& Dir() const { return dir_; }
  bool Start(const std::string& ini) {
    WriteFile(dir_ + "/OVLAR.INI", ini);
    WriteFile(dir_ + "/OVLAR.ICO", std::string("\0\0\1\0", 4));
    // OVLAR_PROGRAM names an installed program to run instead of the
    // build's; it is given its folder by --dir, as a service is.
    if (const char* installed = std::getenv("OVLAR_PROGRAM")) {
      return process_.Start({installed, "--headless", "--dir", dir_}, {}, "", dir_ + "/stderr.txt", "/");
    }
    return process_.Start({OVLAR_BINARY, "--headless"}, {}, "", dir_ + "/stderr.txt", dir_);
  }
  int Stop(int signo) { return process_.Stop(signo); }
  std::string Log() const { return ReadFile(dir_ + "/OVLAR.LOG"); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  bool WaitLogged(const std::string& text, int limitMs = 20000) const {
    return WaitFor([&] { return Logged(text); }, limitMs);
  }

 private:
  TempDir tempDir_{"ovlar-run"};
  const std::string dir_ = tempDir_.Path();
  Process process_;
};

}  // namespace ovlar::test
