#include <gtest/gtest.h>

#include "bridge/CommandLine.h"

namespace ovlar {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, ParsesEachOptionAndRefusesTheRest) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    bool headless;
    std::string dir;
    std::string error;
  };
  const Case cases[] = {
      {{}, Action::Run, false, "", ""},
      {{"--headless"}, Action::Run, true, "", ""},
      {{"--dir", "/etc/ovlar", "--headless"}, Action::Run, true, "/etc/ovlar", ""},
      {{"--dir=station"}, Action::Run, false, "station", ""},
      {{"--dir", "a", "--dir", "b"}, Action::Run, false, "b", ""},
      {{"--version"}, Action::Version, false, "", ""},
      {{"--version", "--help"}, Action::Help, false, "", ""},
      {{"--help", "--bogus"}, Action::UsageError, false, "", "unknown option --bogus"},
      {{"-h"}, Action::UsageError, false, "", "unknown option -h"},
      {{"station"}, Action::UsageError, false, "", "unexpected argument station"},
      {{"--dir"}, Action::UsageError, false, "", "--dir needs a folder"},
      {{"--dir="}, Action::UsageError, false, "", "--dir needs a folder"},
      {{"--headless", "--dir", ""}, Action::UsageError, true, "", "--dir needs a folder"},
  };
  for (const Case& c : cases) {
    const CommandLine line = ParseCommandLine(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args.front() + "...";
    EXPECT_EQ(line.action, c.action) << what;
    EXPECT_EQ(line.headless, c.headless) << what;
    EXPECT_EQ(line.dir, c.dir) << what;
    EXPECT_EQ(line.error, c.error) << what;
  }
}

}  // namespace
}  // namespace ovlar
