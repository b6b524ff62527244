#include "desktop/DesktopModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

// The module's install folder relative to the program's; set by the build.
#ifndef OVLAR_MODULE_RELATIVE_DIR
#error "OVLAR_MODULE_RELATIVE_DIR must be defined"
#endif

namespace ovlar {

namespace {

void AddTried(std::string& tried, const std::string& path, const std::string& reason) {
  tried += (tried.empty() ? "" : "; ") + path + ": " + reason;
}

// The entry of the module at path, or nullptr with path and the reason
// added to tried. A loaded module stays loaded for the rest of the run.
DesktopEntry OpenModule(const std::string& path, std::string& tried) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* error = dlerror();
    std::string reason = error ? error : "cannot be loaded";
    // The loader mostly names the file itself.
    if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
    AddTried(tried, path, reason);
    return nullptr;
  }
  auto entry = reinterpret_cast<DesktopEntry>(dlsym(module, kDesktopEntry));
  if (!entry) AddTried(tried, path, std::string("no entry ") + kDesktopEntry);
  return entry;
}

}  // namespace

std::unique_ptr<FrontEnd> LoadDesktopFrontEnd(EventLoop& loop, std::string& why) {
  why.clear();
  // The program's own file, never the working directory, which is the
  // station's folder.
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof self) {
    why = std::string("cannot read /proc/self/exe: ") + (n < 0 ? std::strerror(errno) : "name too long");
    return nullptr;
  }
  const std::filesystem::path folder = std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path();
  // The build tree keeps the module beside the program; an installed
  // program has it in its library folder.
  for (const std::filesystem::path& file :
       {folder / kDesktopModule, (folder / OVLAR_MODULE_RELATIVE_DIR / kDesktopModule).lexically_normal()}) {
    if (DesktopEntry entry = OpenModule(file.string(), why)) {
      why.clear();
      return std::unique_ptr<FrontEnd>(entry(&loop));
    }
  }
  return nullptr;
}

}  // namespace ovlar
