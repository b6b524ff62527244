// Ovlar: bridges the radio ports of an AGWPE packet engine to an XNet node
// over AXIP. Runs in its working directory, configured by ./OVLAR.INI.
#include <csignal>
#include <cstring>

#include "bridge/Form1.h"
#include "desktop/HeadlessDesktop.h"
#include "platform/EventLoop.h"

int main(int argc, char** argv) {
  // --headless is the only option, and for now the only desktop there is.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") != 0) std::fprintf(stderr, "ovlar: ignoring %s\n", argv[i]);
  }
  ovlar::EventLoop loop;
  ovlar::HeadlessDesktop desktop(loop);
  int status = 0;
  {
    ovlar::TForm1 form(loop, desktop);
    // A signal is the Shutdown command; the headless desktop confirms it.
    loop.HandleSignals({SIGTERM, SIGINT}, [&form](int) { form.ExitClick(); });
    form.FormCreate();
    loop.Run();
    status = form.ConfigError() ? 1 : 0;
  }
  return status;
}
