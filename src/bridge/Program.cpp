#include "bridge/Program.h"

#include <exception>
#include <string>

#include "bridge/Form1.h"

namespace ovlar {

int RunBridge(EventLoop& loop, Desktop& desktop, const std::function<void()>& run,
              std::function<void(int)>& onSignal) {
  TForm1 form(loop, desktop);
  // SIGUSR1 asks for the Status lines; the others are the Shutdown
  // command, already confirmed.
  onSignal = [&form](int signo) { form.OnSignal(signo); };
  form.FormCreate();
  int status = form.ConfigError() ? 1 : 0;
  try {
    run();
  } catch (const std::exception& e) {
    form.LoopFailed(e.what());
    status = kExitLoopFailed;
  } catch (...) {
    form.LoopFailed("unknown failure");
    status = kExitLoopFailed;
  }
  onSignal = nullptr;
  return status;
}

}  // namespace ovlar
