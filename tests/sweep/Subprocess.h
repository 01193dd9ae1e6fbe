#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace zelmora::testing {

// A fresh folder in the tests' build folder (not under $TMPDIR: no test depends on the
// environment), removed with its contents at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = ZELMORA_TEST_SCRATCH "/zelmora-batch-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A child process whose stdout and stderr go to files outside the folder it works in. Every wait
// has a deadline, after which the child is killed: no test can hang on it.
class Subprocess {
 public:
  Subprocess(const std::vector<std::string>& args, const std::string& workDir) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (output_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (output_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    started_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    // Readable once the child has exited, so that a wait wakes at its exit.
    if (started_) exitFd_ = int(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~Subprocess() {
    if (started_ && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (exitFd_ >= 0) ::close(exitFd_);
  }

  bool Started() const { return started_; }
  void Signal(int signal) { ::kill(pid_, signal); }

  // Waits until the child exits or `condition` holds, for at most `seconds`. True if the
  // condition held (or the child exited, without a condition). The child's exit wakes the wait
  // at once; a condition, which nothing announces, is looked at again every few milliseconds.
  bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      if (condition && condition()) return true;
      if (Reap()) return !condition;
      const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      int ms = int(std::ceil(left * 1000));
      if (condition || exitFd_ < 0) ms = std::min(ms, 5);
      pollfd exit{exitFd_, POLLIN, 0};
      ::poll(&exit, exitFd_ >= 0 ? 1 : 0, ms);
    }
  }

  // Waits for the exit; kills the child at the deadline. The exit status, or -1 when killed or
  // ended by a signal.
  int Wait(double seconds = 120) {
    if (!started_) return -1;
    if (!exited_ && !WaitUntil({}, seconds)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      exited_ = true;
      return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  bool Exited() { return exited_ || Reap(); }

  std::string Err() const { return ReadFile((output_ / "stderr").string()); }
  std::string Out() const { return ReadFile((output_ / "stdout").string()); }

 private:
  bool Reap() {
    if (exited_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }

  TempDir outputDir_;
  std::filesystem::path output_{outputDir_.path()};
  pid_t pid_ = 0;
  int exitFd_ = -1;
  bool started_ = false;
  bool exited_ = false;
  int status_ = 0;
};

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs the program to its end (killed after `seconds`).
inline Outcome RunProgram(const std::string& program, std::vector<std::string> args, const std::string& workDir,
                          double seconds = 120) {
  args.insert(args.begin(), program);
  Subprocess child(args, workDir);
  Outcome outcome;
  outcome.status = child.Wait(seconds);
  outcome.err = child.Err();
  return outcome;
}

inline constexpr const char* kProbe = "/usr/bin/ffprobe";

// "width,height,frames" of a video's first stream, the frames as the decoder counts them.
inline std::string Probe(const std::string& workDir, const std::string& path) {
  Subprocess probe({kProbe, "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                    "stream=nb_read_frames,width,height", "-of", "csv=p=0:nk=1", path},
                   workDir);
  probe.Wait();
  std::string out = probe.Out();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace zelmora::testing
