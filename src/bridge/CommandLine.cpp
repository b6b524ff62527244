#include "bridge/CommandLine.h"

namespace ovlar {

namespace {

const std::string kDirOption = "--dir";

// An empty folder would silently mean "stay here", so it is refused too.
void TakeDir(CommandLine& line, const std::string& dir) {
  if (dir.empty()) {
    line.error = kDirOption + " needs a folder";
  } else {
    line.dir = dir;
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool help = false;
  bool version = false;
  for (size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--help") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == kDirOption) {
      TakeDir(line, i + 1 < args.size() ? args[++i] : std::string());
    } else if (arg.rfind(kDirOption + "=", 0) == 0) {
      TakeDir(line, arg.substr(kDirOption.size() + 1));
    } else {
      line.error = (arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected argument ") + arg;
    }
  }
  if (!line.error.empty()) {
    line.action = CommandLine::Action::UsageError;
  } else if (help) {
    line.action = CommandLine::Action::Help;
  } else if (version) {
    line.action = CommandLine::Action::Version;
  }
  return line;
}

std::string UsageText() {
  return "Usage: ovlar [--headless] [--dir DIR]\n"
         "       ovlar --help | --version\n"
         "Bridges the radio ports of an AGWPE packet engine to an XNet node over AXIP.\n"
         "\n"
         "  --headless   run without the notification icon, even when a display answers\n"
         "  --dir DIR    change to DIR first: OVLAR.INI, the log and the help page are DIR's\n"
         "  --help       show this text and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "OVLAR.INI is read from the working directory (DIR with --dir), and the log,\n"
         "OVLAR.LOG unless LOGFILE names another, is written there. Without a display,\n"
         "or with --headless, the bridge runs headless: SIGTERM, SIGINT or SIGHUP shut\n"
         "it down, SIGUSR1 writes the Status lines to the log.\n"
         "Exit status: 0 after a shutdown; 1 when a setting cannot work (one line on\n"
         "stderr names it) or DIR cannot be entered; 2 for a wrong command line; 3\n"
         "when the event loop itself failed (said in the log and on stderr; the\n"
         "service is restarted).\n"
         "\n"
         "As a service (the Debian package's ovlar.service, user ovlar): copy\n"
         "/usr/share/doc/ovlar/examples/OVLAR.INI to /etc/ovlar/, adapt it, then\n"
         "systemctl enable --now ovlar; the log is /var/log/ovlar/OVLAR.LOG. See ovlar(1).\n";
}

}  // namespace ovlar
