#include "desktop/DesktopModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace ovlar {

DesktopEntry LoadDesktopModule(std::string& why) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/') + 1);
  // The module stays loaded for the rest of the run.
  void* module = dlopen((dir + kDesktopModule).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* error = dlerror();
    why = error ? error : "cannot load the desktop module";
    return nullptr;
  }
  auto entry = reinterpret_cast<DesktopEntry>(dlsym(module, kDesktopEntry));
  if (!entry) why = "the desktop module has no entry";
  return entry;
}

}  // namespace ovlar
