#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelmora::sweep {

// A run's video, encoded by ffmpeg as the frames are made: each frame is piped to the encoder at
// once, so no frame is kept in memory. The container follows the name: `.gif` an animated GIF,
// anything else an MP4 with H.264. The video is written to a temporary beside `path` and renamed
// into place by Finish, so a torn video never stands under its final name. Failures throw
// IoError with the encoder's own message.
class VideoEncoder {
 public:
  // Frames are width x height pixels of 8-bit red, green, blue, shown `framesPerSecond` a second.
  VideoEncoder(const std::string& path, std::int32_t width, std::int32_t height, double framesPerSecond);
  // Without Finish the encoder is stopped and its temporary removed: the video was cut short.
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // One frame: `height` rows of width * 3 bytes, `stride` bytes apart.
  void AddFrame(const std::uint8_t* pixels, std::size_t stride);
  // Ends the stream, waits for the encoder and puts the video in place.
  void Finish();

 private:
  void Write(const std::uint8_t* data, std::size_t size);
  // Waits for the encoder; its exit status, or -1 if it ended by a signal.
  int Reap();
  [[noreturn]] void Fail(const std::string& what);
  std::string EncoderMessage() const;

  std::string path_, temporary_;
  int log_ = -1;    // the encoder's standard error, an in-memory file
  std::int32_t width_, height_;
  int input_ = -1;  // the encoder's standard input
  pid_t encoder_ = -1;
};

}  // namespace zelmora::sweep
