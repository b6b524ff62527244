#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <regex>
#include <system_error>
#include <utility>

#include "TestUtil.h"
#include "support/Log.h"

namespace ovlar {
namespace {

using test::ReadFile;
using test::ScratchDir;

class LogTest : public ::testing::Test {
 protected:
  TLog& Open(int32_t level) {
    log_.LogFileName = "OVLAR.LOG";
    log_.TraceLevel = level;
    log_.SetEnabled(true);
    return log_;
  }
  ScratchDir dir_;
  TLog log_;
};

TEST_F(LogTest, NothingHappensUntilEnabled) {
  log_.LogFileName = "OVLAR.LOG";
  log_.TraceLevel = 5;
  log_.WriteLog(1, "x");
  EXPECT_FALSE(std::filesystem::exists("OVLAR.LOG"));
}

TEST_F(LogTest, EnablingEmptiesTheFileAndLevelZeroWritesNothing) {
  test::WriteFile("OVLAR.LOG", "left over from the last run\r\n");
  Open(0).WriteLog(1, "start");
  EXPECT_TRUE(log_.Enabled());
  EXPECT_EQ(ReadFile("OVLAR.LOG"), "");
}

TEST_F(LogTest, LineIsDateTimeBlankTextCrLf) {
  Open(1).WriteLog(1, "Create: Parameters");
  const std::string text = ReadFile("OVLAR.LOG");
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\S+ \S*\d\d\S* (AM |PM )?Create: Parameters\r\n)"))) << text;
}

TEST_F(LogTest, LevelFilter) {
  Open(3).WriteLog(4, "four");
  log_.WriteLog(3, "three");
  EXPECT_EQ(test::LogTexts("OVLAR.LOG"), std::vector<std::string>{"three"});
  log_.TraceLevel = 4;
  log_.WriteLog(4, "four");
  EXPECT_EQ(test::LogTexts("OVLAR.LOG").back(), "four");
}

TEST_F(LogTest, DumpLinesArePaddedTo67Characters) {
  EXPECT_EQ(TLog::DumpLines("AB\r"), " |41 42 0D -- -- -- -- -- -- -- -- -- -- -- -- -- |AB.             \r\n");
  const std::string sixteen = TLog::DumpLines("0123456789abcdef");
  EXPECT_EQ(sixteen, " |30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 |0123456789abcdef\r\n");
  const std::string seventeen = TLog::DumpLines("0123456789abcdefz");
  ASSERT_EQ(seventeen.size(), 2 * 69u);
  EXPECT_EQ(seventeen.substr(69), " |7A -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- |z               \r\n");
  EXPECT_EQ(TLog::DumpLines(std::string("{|}~\x7F \0\xFF", 8)).substr(51, 16), "..... ..        ");
}

TEST_F(LogTest, DumpBufferFramesTheDumpAndIgnoresEmptyInput) {
  Open(5).DumpBuffer(4, nullptr, 3);
  log_.DumpBuffer(4, "abc", 0);
  log_.DumpText(4, "");
  EXPECT_EQ(ReadFile("OVLAR.LOG"), "");
  log_.DumpBuffer(4, "AB\r", 3);
  const auto texts = test::LogTexts("OVLAR.LOG");
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "------ Dump Buffer Len(3) ------");
  EXPECT_EQ(texts[1], " |41 42 0D -- -- -- -- -- -- -- -- -- -- -- -- -- |AB.             ");
  EXPECT_EQ(texts[2], "------              End of Dump              ------");
}

TEST_F(LogTest, AFileThatCannotBeCreatedTurnsLoggingOff) {
  std::filesystem::create_directory("adir");
  log_.LogFileName = "adir";
  log_.TraceLevel = 5;
  log_.SetEnabled(true);
  EXPECT_FALSE(log_.Enabled());
  log_.WriteLog(1, "lost");
  log_.LogFileName = "nodir/OVLAR.LOG";
  log_.SetEnabled(true);
  EXPECT_FALSE(log_.Enabled());
}

// The run before is the evidence of what failed: a start keeps it as
// NAME.1; where it cannot be moved this run is appended to it instead.
TEST_F(LogTest, AStartKeepsTheRunBeforeAsDotOne) {
  struct Case {
    const char* earlier;
    bool older;  // OVLAR.LOG.1 is a folder the log cannot replace
    const char* log;
    const char* fault;
  };
  for (const Case& c :
       {Case{"run before\r\n", false, "", ""}, Case{"", false, "", ""},
        Case{"run before\r\n", true, "run before\r\n",
             "log \"OVLAR.LOG\" not kept as \"OVLAR.LOG.1\": Is a directory; this run is appended to it"}}) {
    ScratchDir dir;
    if (c.older) {
      std::filesystem::create_directories("OVLAR.LOG.1/in");
    } else {
      test::WriteFile("OVLAR.LOG.1", "older\r\n");
    }
    test::WriteFile("OVLAR.LOG", c.earlier);
    TLog log;
    log.LogFileName = "OVLAR.LOG";
    log.SetEnabled(true);
    EXPECT_TRUE(log.Enabled()) << c.earlier;
    EXPECT_EQ(ReadFile("OVLAR.LOG"), c.log) << c.earlier;
    EXPECT_EQ(log.Fault(), c.fault);
    const bool moved = *c.earlier != '\0' && !c.older;
    if (!c.older) {
      EXPECT_EQ(ReadFile("OVLAR.LOG.1"), moved ? c.earlier : "older\r\n") << "an empty log is not kept";
    }
  }
}

TEST_F(LogTest, AFileThatCannotBeOpenedIsSaidWithTheReason) {
  std::filesystem::create_directory("adir");
  for (const auto& [name, reason] : {std::pair{"adir", "Is a directory"}, {"nodir/OVLAR.LOG", "No such file or directory"}}) {
    log_.LogFileName = name;
    log_.SetEnabled(true);
    EXPECT_EQ(log_.Fault(), std::string("log \"") + name + "\" not opened: " + reason + "; the run goes on without a log");
  }
  log_.LogFileName = "OVLAR.LOG";
  log_.SetEnabled(true);
  EXPECT_EQ(log_.Fault(), "") << "gone with the next start that works";
}

TEST_F(LogTest, ADeletedFileIsCreatedAgain) {
  Open(1).WriteLog(1, "one");
  std::filesystem::remove("OVLAR.LOG");
  log_.WriteLog(1, "two");
  EXPECT_EQ(test::LogTexts("OVLAR.LOG"), std::vector<std::string>{"two"});
}

TEST_F(LogTest, PastItsSizeTheFileBecomesDotOneAndANewOneStarts) {
  test::WriteFile("OVLAR.LOG.1", "older\r\n");
  Open(1).MaxSize = 100;
  // Two lines pass the limit: after five, c and d are the older file.
  for (int i = 0; i < 5; ++i) log_.WriteLog(1, std::string(30, static_cast<char>('a' + i)));
  const std::string older = ReadFile("OVLAR.LOG.1");
  EXPECT_EQ(older.find("older"), std::string::npos) << "replaced";
  EXPECT_NE(older.find(std::string(30, 'c') + "\r\n"), std::string::npos);
  EXPECT_NE(older.find(std::string(30, 'd') + "\r\n"), std::string::npos);
  EXPECT_EQ(test::LogTexts("OVLAR.LOG"), std::vector<std::string>{std::string(30, 'e')});
  EXPECT_LT(ReadFile("OVLAR.LOG").size(), 100u);
  log_.MaxSize = 0;
  for (int i = 0; i < 10; ++i) log_.WriteLog(1, std::string(30, 'z'));
  EXPECT_GT(ReadFile("OVLAR.LOG").size(), 300u) << "0 is no limit";
}

// A folder that holds `room` bytes of OVLAR.LOG and OVLAR.LOG.1 together,
// as a full disk does: a write takes what still fits, then ENOSPC.
class SmallDisk {
 public:
  explicit SmallDisk(TLog& log, size_t room) : room_(room) {
    log.WriteCall = [this](int fd, const void* data, size_t count) -> ssize_t {
      const size_t used = Size("OVLAR.LOG") + Size("OVLAR.LOG.1");
      if (used >= room_) {
        errno = ENOSPC;
        return -1;
      }
      return write(fd, data, std::min(count, room_ - used));
    };
  }
  size_t room_;

 private:
  static size_t Size(const char* path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<size_t>(size);
  }
};

std::vector<std::string> RawLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text.size() : end + 2;
  }
  return lines;
}

TEST_F(LogTest, AfterAFullDiskTheNextLineStartsOnALineOfItsOwn) {
  Open(1).WriteLog(1, "first");
  SmallDisk disk(log_, ReadFile("OVLAR.LOG").size() + 12);
  log_.WriteLog(1, "cut by the full disk");
  log_.WriteLog(1, "lost whole");
  disk.room_ = 1000;
  log_.WriteLog(1, "after");
  const std::vector<std::string> lines = RawLines(ReadFile("OVLAR.LOG"));
  ASSERT_EQ(lines.size(), 3u) << ReadFile("OVLAR.LOG");
  EXPECT_EQ(test::LogText(lines[0]), "first");
  EXPECT_EQ(lines[1].size(), 12u) << "the cut piece stays, ended";
  EXPECT_EQ(test::LogText(lines[2]), "after");
}

// The log and its older copy no longer fit: the copy goes, once and said,
// and the log keeps being written.
TEST_F(LogTest, WhenTheFolderCannotHoldBothGenerationsTheOlderOneIsDropped) {
  test::WriteFile("OVLAR.LOG.1", std::string(900, 'o'));
  Open(1).MaxSize = 10000;
  SmallDisk disk(log_, 1000);
  for (int i = 0; i < 10; ++i) log_.WriteLog(1, "line " + std::to_string(i) + std::string(20, '.'));
  EXPECT_FALSE(std::filesystem::exists("OVLAR.LOG.1"));
  const auto texts = test::LogTexts("OVLAR.LOG");
  const std::string said = "Log: no room for the log, OVLAR.LOG.1 removed to make some";
  EXPECT_EQ(std::count(texts.begin(), texts.end(), said), 1);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().rfind("line 9", 0), 0u);
}

TEST_F(LogTest, HeldLinesAreWrittenInOneGoOrNotAtAll) {
  Open(4).WriteLog(1, "before");
  log_.Hold();
  log_.WriteLog(1, "kept");
  log_.DumpBuffer(4, "AB", 2);
  EXPECT_EQ(test::LogTexts("OVLAR.LOG"), std::vector<std::string>{"before"});
  log_.Release(true);
  log_.Hold();
  log_.WriteLog(1, "dropped");
  log_.Release(false);
  log_.WriteLog(1, "after");
  EXPECT_EQ(test::LogTexts("OVLAR.LOG"),
            (std::vector<std::string>{"before", "kept", "------ Dump Buffer Len(2) ------",
                                      TLog::DumpLines("AB").substr(0, 67),
                                      "------              End of Dump              ------", "after"}));
}

}  // namespace
}  // namespace ovlar
