// The program's command line: what to do and where. Parsing only; main acts
// on the result, so a run without arguments stays exactly what it was.
#pragma once
#include <string>
#include <vector>

namespace ovlar {

struct CommandLine {
  enum class Action { Run, Help, Version, UsageError };
  Action action = Action::Run;
  bool headless = false;
  std::string dir;    // empty: stay in the working directory
  std::string error;  // for UsageError: what was wrong, one line
};

// The arguments after the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Every option and where OVLAR.INI is read from; ends with a newline.
std::string UsageText();

}  // namespace ovlar
