// Ovlar: bridges the radio ports of an AGWPE packet engine to an XNet node
// over AXIP. Runs in its working directory, configured by ./OVLAR.INI: on
// the desktop when a display can be reached, headless otherwise or with
// --headless.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>

#include "bridge/Form1.h"
#include "desktop/DesktopModule.h"
#include "desktop/DisplayProbe.h"
#include "desktop/HeadlessDesktop.h"
#include "platform/EventLoop.h"

namespace {

int RunHeadless(ovlar::EventLoop& loop, std::function<void(int)>& onSignal) {
  ovlar::HeadlessDesktop desktop(loop);
  ovlar::TForm1 form(loop, desktop);
  // SIGUSR1 asks for the Status lines; the others are the Shutdown
  // command, already confirmed.
  onSignal = [&form](int signo) { form.OnSignal(signo); };
  form.FormCreate();
  loop.Run();
  return form.ConfigError() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) headless = true;
  }
  ovlar::EventLoop loop;
  // Signals are taken over before any thread starts, so none gets them.
  std::function<void(int)> onSignal;
  // SIGHUP: the terminal that started the program has gone.
  loop.HandleSignals({SIGTERM, SIGINT, SIGHUP, SIGUSR1}, [&onSignal](int signo) {
    if (onSignal) onSignal(signo);
  });
  if (!headless && ovlar::DisplayReachable()) {
    std::string why;
    if (ovlar::DesktopEntry desktop = ovlar::LoadDesktopModule(why)) {
      ovlar::SignalBinder bind = [&onSignal](std::function<void(int)> f) { onSignal = std::move(f); };
      return desktop(argc, argv, &loop, &bind);
    }
    std::fprintf(stderr, "ovlar: no desktop front end (%s), running headless\n", why.c_str());
  }
  return RunHeadless(loop, onSignal);
}
