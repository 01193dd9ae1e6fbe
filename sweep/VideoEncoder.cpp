#include "sweep/VideoEncoder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sweep/Output.h"

extern char** environ;

namespace zelmora::sweep {
namespace {

constexpr int kOutputFd = 3;  // where the encoder finds the temporary it writes

bool EndsWith(const std::string& text, const char* end) {
  const std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

// A descriptor moved above the standard ones, so the child's dup2 calls cannot overwrite one
// another's source.
int Lifted(int fd) {
  if (fd < 0 || fd > kOutputFd) return fd;
  const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, kOutputFd + 1);
  const int error = errno;
  close(fd);
  errno = error;
  return lifted;
}

std::vector<std::string> EncoderArguments(bool gif, std::int32_t width, std::int32_t height, double rate) {
  char size[32], frames[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  std::snprintf(frames, sizeof frames, "%g", rate);
  std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error", "-y",
                                   "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-framerate", frames,
                                   "-i", "pipe:0"};
  if (gif) {
    // A palette of each frame's own colours: exact for pictures of few colours, and nothing waits
    // for the whole video as one palette over every frame would.
    args.insert(args.end(), {"-filter_complex",
                             "split[a][b];[a]palettegen=stats_mode=single:reserve_transparent=0[p];"
                             "[b][p]paletteuse=new=1:dither=none",
                             "-f", "gif"});
  } else {
    // H.264 in 4:2:0 needs even sides: an odd side gets one blank line.
    args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                             "-f", "mp4"});
  }
  args.push_back("file:/dev/fd/" + std::to_string(kOutputFd));
  return args;
}

}  // namespace

VideoEncoder::VideoEncoder(const std::string& path, std::int32_t width, std::int32_t height,
                           double framesPerSecond)
    : path_(path), width_(width), height_(height) {
  if (width <= 0 || height <= 0 || !(framesPerSecond > 0) || !std::isfinite(framesPerSecond)) {
    throw IoError(path, "a video needs frames of at least one pixel and a positive frame rate");
  }
  // The temporary is made by us, exclusively: a link planted under its name is never followed.
  int output = Lifted(CreateTemporary(path, temporary_));
  // The encoder's messages, kept in memory for the error we report.
  const int log = Lifted(memfd_create("zelmora-video-log", MFD_CLOEXEC));
  int pipeFds[2] = {-1, -1};
  const bool piped = pipe2(pipeFds, O_CLOEXEC) == 0;
  const int input = piped ? Lifted(pipeFds[0]) : -1;
  input_ = piped ? Lifted(pipeFds[1]) : -1;
  const auto fail = [&](const std::string& what) {
    const int error = errno;
    for (int fd : {output, log, input}) {
      if (fd >= 0) close(fd);
    }
    if (input_ >= 0) close(input_);
    input_ = -1;
    unlink(temporary_.c_str());
    throw IoError(path, what + ": " + std::strerror(error));
  };
  if (output < 0 || log < 0 || input < 0 || input_ < 0) fail("the encoder cannot be given its files");

  const std::vector<std::string> args = EncoderArguments(EndsWith(path, ".gif"), width, height, framesPerSecond);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, log, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, kOutputFd);
  // A group of its own: a Ctrl-C at the terminal is the program's to act on, and the program stops
  // the encoder itself; an encoder stopped by the same key would fail the run instead.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawnp(&encoder_, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(input);
  close(output);
  if (spawned != 0) {
    encoder_ = -1;
    errno = spawned;
    close(log);
    fail("the video encoder ffmpeg cannot be started (is ffmpeg installed?)");
  }
  log_ = log;
}

VideoEncoder::~VideoEncoder() {
  if (input_ >= 0) close(input_);
  if (encoder_ > 0) {
    kill(encoder_, SIGKILL);
    Reap();
  }
  if (!temporary_.empty()) unlink(temporary_.c_str());
  if (log_ >= 0) close(log_);
}

void VideoEncoder::AddFrame(const std::uint8_t* pixels, std::size_t stride) {
  const std::size_t row = std::size_t(width_) * 3;
  if (stride == row) {
    Write(pixels, row * std::size_t(height_));
    return;
  }
  for (std::int32_t y = 0; y < height_; ++y) Write(pixels + std::size_t(y) * stride, row);
}

void VideoEncoder::Write(const std::uint8_t* data, std::size_t size) {
  // An encoder that died closes the pipe: that is an error to report, not a signal that ends the
  // process. SIGPIPE is held back on this thread for the write and a pending one is taken away.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  int error = 0;
  while (size > 0) {
    const ssize_t n = write(input_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    data += n;
    size -= std::size_t(n);
  }
  if (error == EPIPE) {
    const timespec now{0, 0};
    sigtimedwait(&pipeSignal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (error != 0) Fail(std::string("the encoder stopped taking frames (") + std::strerror(error) + ")");
}

void VideoEncoder::Finish() {
  close(input_);
  input_ = -1;
  const int status = Reap();
  if (status != 0) Fail(status < 0 ? "the encoder was killed" : "the encoder failed");
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    Fail(std::string("cannot be put in place: ") + std::strerror(errno));
  }
  temporary_.clear();
}

int VideoEncoder::Reap() {
  int status = 0;
  while (waitpid(encoder_, &status, 0) < 0) {
    if (errno != EINTR) {
      encoder_ = -1;
      return -1;
    }
  }
  encoder_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void VideoEncoder::Fail(const std::string& what) {
  if (input_ >= 0) close(input_);
  input_ = -1;
  if (encoder_ > 0) {
    kill(encoder_, SIGKILL);
    Reap();
  }
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  const std::string message = EncoderMessage();
  throw IoError(path_, message.empty() ? what : what + ": " + message);
}

std::string VideoEncoder::EncoderMessage() const {
  // The encoder's last line of error output says what went wrong.
  std::string text;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; log_ >= 0 && (n = pread(log_, buffer, sizeof buffer, at)) > 0; at += n) {
    text.append(buffer, std::size_t(n));
    if (text.size() > 65536) text.erase(0, text.size() - 4096);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  const std::size_t line = text.find_last_of('\n');
  return line == std::string::npos ? text : text.substr(line + 1);
}

}  // namespace zelmora::sweep
