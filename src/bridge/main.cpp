// Ovlar: bridges the radio ports of an AGWPE packet engine to an XNet node
// over AXIP. Runs in its working directory (or --dir DIR), configured by
// ./OVLAR.INI: on the desktop when a display can be reached, headless
// otherwise or with --headless.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "bridge/CommandLine.h"
#include "bridge/Form1.h"
#include "bridge/Program.h"
#include "bridge/ProgramSignals.h"
#include "desktop/DesktopModule.h"
#include "desktop/DisplayProbe.h"
#include "desktop/HeadlessDesktop.h"
#include "platform/EventLoop.h"

namespace {

int RunProgram(bool headless) {
  ovlar::EventLoop loop;
  // Signals are taken over before any thread starts, so none gets them.
  std::function<void(int)> onSignal;
  // SIGHUP: the terminal that started the program has gone.
  loop.HandleSignals(ovlar::ProgramSignals(), [&onSignal](int signo) {
    if (onSignal) onSignal(signo);
  });
  if (!headless && ovlar::DisplayReachable()) {
    std::string why;
    if (std::unique_ptr<ovlar::FrontEnd> frontEnd = ovlar::LoadDesktopFrontEnd(loop, why)) {
      return ovlar::RunBridge(loop, frontEnd->Surface(), [&frontEnd] { frontEnd->Run(); }, onSignal);
    }
    std::fprintf(stderr, "ovlar: no desktop front end (%s), running headless\n", why.c_str());
  }
  ovlar::HeadlessDesktop desktop(loop);
  return ovlar::RunBridge(loop, desktop, [&loop] { loop.Run(); }, onSignal);
}

// The text on stdout; 1 when it did not all get there (a full disk, a
// closed pipe), since a caller that reads it would otherwise take a cut
// text for the whole.
int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
  std::fprintf(stderr, "ovlar: stdout not written: %s\n", std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: a signal in the first moments waits for the loop.
  ovlar::BlockProgramSignals();
  const ovlar::CommandLine line = ovlar::ParseCommandLine(std::vector<std::string>(argv + (argc > 0), argv + argc));
  switch (line.action) {
    case ovlar::CommandLine::Action::Help:
      return Print(ovlar::UsageText());
    case ovlar::CommandLine::Action::Version:
      return Print(std::string(ovlar::kProduct) + "\n");
    case ovlar::CommandLine::Action::UsageError:
      std::fprintf(stderr, "ovlar: %s\n%s", line.error.c_str(), ovlar::UsageText().c_str());
      return 2;
    case ovlar::CommandLine::Action::Run:
      break;
  }
  // The folder is a fact of the machine, not of the command line: a
  // missing one is a run-time failure (1), not a usage error (2).
  if (!line.dir.empty() && chdir(line.dir.c_str()) != 0) {
    std::fprintf(stderr, "ovlar: cannot enter %s: %s\n", line.dir.c_str(), std::strerror(errno));
    return 1;
  }
  // What fails before the bridge runs (the loop's own descriptors) has no
  // log to go to yet.
  try {
    return RunProgram(line.headless);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ovlar: %s; exit status %d\n", e.what(), ovlar::kExitLoopFailed);
    return ovlar::kExitLoopFailed;
  }
}
