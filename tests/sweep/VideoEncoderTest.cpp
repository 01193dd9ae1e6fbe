#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "Subprocess.h"
#include "sweep/Output.h"
#include "sweep/VideoEncoder.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::RunProgram;
using zelmora::testing::Subprocess;
using zelmora::testing::TempDir;

using zelmora::testing::kProbe;
using zelmora::testing::Probe;

std::vector<std::string> Entries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(VideoEncoder, EveryFrameReachesTheVideoAndNothingElseStays) {
  if (!std::filesystem::exists(kProbe)) GTEST_SKIP() << "ffmpeg is not installed";
  struct Case {
    const char* name;
    int width, height;
    const char* probed;  // odd sides of an H.264 video get one blank line
  };
  for (const Case& c : {Case{"v.mp4", 40, 30, "40,30,21"}, Case{"v.gif", 41, 13, "41,13,21"},
                        Case{"odd.mp4", 41, 13, "42,14,21"}}) {
    TempDir dir;
    {
      VideoEncoder video(dir / c.name, c.width, c.height, 10);
      std::vector<std::uint8_t> frame(std::size_t(c.width) * 3 * std::size_t(c.height));
      for (int k = 0; k <= 20; ++k) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = std::uint8_t(i * 7 + k * 40);
        video.AddFrame(frame.data(), std::size_t(c.width) * 3);
      }
      video.Finish();
    }
    EXPECT_EQ(Probe(dir.path(), dir / c.name), c.probed) << c.name;
    EXPECT_EQ(Entries(dir), std::vector<std::string>{c.name}) << c.name;
  }
}

TEST(VideoEncoder, AFailedOrCutShortEncodingLeavesNoFileAndSaysWhy) {
  TempDir dir, bin;
  {
    std::ofstream script(bin / "ffmpeg");
    script << "#!/bin/sh\ncat >/dev/null\necho 'first line' >&2\necho 'Unknown encoder libx264' >&2\nexit 1\n";
  }
  std::filesystem::permissions(bin / "ffmpeg", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  const auto encode = [&](const char* searchPath, bool finish) -> std::string {
    setenv("PATH", searchPath, 1);
    try {
      VideoEncoder video(dir / "v.mp4", 4, 4, 1);
      const std::vector<std::uint8_t> frame(48);
      video.AddFrame(frame.data(), 12);
      if (finish) video.Finish();
    } catch (const IoError& e) {
      setenv("PATH", path.c_str(), 1);
      return e.what();
    }
    setenv("PATH", path.c_str(), 1);
    return "no error";
  };
  EXPECT_NE(encode(bin.path().c_str(), true).find("Unknown encoder libx264"), std::string::npos);
  EXPECT_NE(encode((bin / "none").c_str(), true).find("cannot be started"), std::string::npos);
  if (std::filesystem::exists(kProbe)) {
    EXPECT_EQ(encode(path.c_str(), false), "no error");
  }
  EXPECT_TRUE(Entries(dir).empty());
}

}  // namespace
}  // namespace zelmora::sweep
