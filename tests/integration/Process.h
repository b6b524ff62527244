// Child processes for the peer tests: started with fork and exec, stopped
// with a signal and reaped, never left behind.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace ovlar::test {

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { Stop(SIGKILL); }

  // stdinPath is opened read-write (a FIFO then never blocks the open);
  // stdout and stderr go to logPath, stderr to errPath when one is given.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& stdinPath, const std::string& logPath, const std::string& dir = "",
             const std::string& errPath = "") {
    pid_ = fork();
    if (pid_ < 0) return false;
    group_ = pid_;
    if (pid_ == 0) {
      setpgid(0, 0);
      const int in = stdinPath.empty() ? open("/dev/null", O_RDONLY) : open(stdinPath.c_str(), O_RDWR);
      const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(errPath.empty() ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    return true;
  }
  bool Running() const { return pid_ > 0; }
  int Pid() const { return pid_; }
  // Sends the signal and waits for the end; returns the exit status, or
  // 128 + the signal when it was killed. Children the process started in
  // its group go too.
  int Stop(int signo = SIGTERM) {
    if (pid_ <= 0) return -1;
    kill(pid_, signo);
    const int status = Wait();
    kill(-group_, SIGKILL);
    return status;
  }
  int Wait() {
    if (pid_ <= 0) return -1;
    group_ = pid_;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return StatusOf(status);
  }
  // Reaps the process if it has ended, without waiting; status as Wait's.
  bool Reap(int& status) {
    int raw = 0;
    if (pid_ <= 0 || waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    group_ = pid_;
    pid_ = -1;
    status = StatusOf(raw);
    return true;
  }

 private:
  static int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }
  pid_t pid_ = -1;
  pid_t group_ = -1;
};

}  // namespace ovlar::test
