// What a service manager puts in the environment besides the notify
// socket: the log's folder and the journal's stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "BridgeFixture.h"
#include "platform/ServiceEnvironment.h"

namespace ovlar {
namespace {

using test::Lines;

TEST(ServiceEnvironment, ARelativeLogFileGoesBelowTheLogsDirectory) {
  struct Case {
    const char* file;
    const char* folder;
    const char* want;
  };
  for (const Case& c : {Case{"OVLAR.LOG", "/var/log/ovlar", "/var/log/ovlar/OVLAR.LOG"},
                        Case{"sub/x.log", "/var/log/ovlar/", "/var/log/ovlar/sub/x.log"},
                        Case{"OVLAR.LOG", "/var/log/a:/var/log/b", "/var/log/a/OVLAR.LOG"},
                        Case{"/srv/x.log", "/var/log/ovlar", "/srv/x.log"}, Case{"OVLAR.LOG", nullptr, "OVLAR.LOG"},
                        Case{"OVLAR.LOG", "", "OVLAR.LOG"}, Case{"OVLAR.LOG", ":/var/log/b", "OVLAR.LOG"},
                        Case{"", "/var/log/ovlar", ""}}) {
    EXPECT_EQ(LogFileBelow(c.file, c.folder), c.want) << c.file << " below " << (c.folder ? c.folder : "(unset)");
  }
}

TEST(ServiceEnvironment, TheJournalStreamIsTheFileOnTheDescriptor) {
  test::ScratchDir dir;
  const int fd = open("stream", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  struct stat status {};
  ASSERT_EQ(fstat(fd, &status), 0);
  const std::string device = std::to_string(status.st_dev);
  const std::string inode = std::to_string(status.st_ino);
  EXPECT_TRUE(IsJournalStream((device + ":" + inode).c_str(), fd));
  for (const std::string& other :
       {device + ":" + std::to_string(status.st_ino + 1), std::to_string(status.st_dev + 1) + ":" + inode,
        device + inode, device + ":" + inode + "x", ":" + inode, device + ":", " " + device + ":" + inode,
        device + ":-" + inode, "184467440737095516160:" + inode, std::string()}) {
    EXPECT_FALSE(IsJournalStream(other.c_str(), fd)) << other;
  }
  EXPECT_FALSE(IsJournalStream(nullptr, fd));
  close(fd);
  EXPECT_FALSE(IsJournalStream((device + ":" + inode).c_str(), fd)) << "a closed descriptor";
}

class ServiceRun : public test::BridgeFixture {
 protected:
  ~ServiceRun() override {
    form_.reset();
    unsetenv("LOGS_DIRECTORY");
    unsetenv("JOURNAL_STREAM");
  }
};

// The examples' relative LOGFILE lands in the service's logs folder, and a
// restart keeps the run before it, the one that failed, as OVLAR.LOG.1.
TEST_F(ServiceRun, TheLogLivesInTheLogsDirectoryAndARestartKeepsTheRunBefore) {
  std::filesystem::create_directory("logs");
  setenv("LOGS_DIRECTORY", (dir_.Path() + "/logs").c_str(), 1);
  Start("[XNET.PORT]\nA=1,0,9\n");
  form_.reset();
  EXPECT_FALSE(std::filesystem::exists("OVLAR.LOG"));
  const std::string first = test::ReadFile("logs/OVLAR.LOG");
  EXPECT_NE(first.find("Destroy: ShutDown Completed"), std::string::npos) << first;
  Start("[XNET.PORT]\nA=1,0,9\n");
  EXPECT_EQ(test::ReadFile("logs/OVLAR.LOG.1"), first);
  EXPECT_EQ(test::LogTexts("logs/OVLAR.LOG").front(), "Create: Starting Ovlar Version 1.00.00");
  EXPECT_TRUE(desktop_.Notices.empty());
}

// Stderr that is the journal hears of the link as a terminal does; stderr
// that is another file does not.
TEST_F(ServiceRun, TheJournalHearsOfTheLink) {
  for (const bool journal : {true, false}) {
    test::StderrCapture stream;
    struct stat status {};
    ASSERT_EQ(fstat(STDERR_FILENO, &status), 0);
    const auto inode = static_cast<uint64_t>(status.st_ino) + (journal ? 0 : 1);
    setenv("JOURNAL_STREAM", (std::to_string(status.st_dev) + ":" + std::to_string(inode)).c_str(), 1);
    desktop_.Notices.clear();
    log_.Restart();
    test::WriteFile("OVLAR.INI", "[OVLAR]\nTRACE=1\n[AGW]\nPORT=1\n[XNET.PORT]\nA=1,0,9\n");
    form_ = std::make_unique<TForm1>(loop_, desktop_);
    form_->FormCreate();
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return Logged("<L2> Event <OnAGWError> AGWPE(OVLAR-0)"); }));
    EXPECT_EQ(desktop_.Notices,
              journal ? Lines{"ovlar: AGWPE 127.0.0.1:1: Connection refused, retrying in 60 s"} : Lines{});
    form_.reset();
  }
}

}  // namespace
}  // namespace ovlar
