// Experiments as docs/EXPERIMENTS.md shows them: designs made by SciPy, runs that settle, videos,
// and the input they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Csv.h"
#include "Subprocess.h"
#include "sweep/Columns.h"

namespace zelmora::testing {
namespace {

const std::string Program = ZELMORA_BATCH_PROGRAM;
const std::string Python = "/usr/bin/python3";

// The fenced blocks of the docs after `heading`, up to the next heading of its level.
std::vector<std::string> DocBlocks(const std::string& heading) {
  const std::string doc = ReadFile(ZELMORA_SOURCE_DIR "/docs/EXPERIMENTS.md");
  const std::size_t from = doc.find(heading), to = doc.find("\n##", from + 1);
  std::vector<std::string> blocks;
  for (std::size_t at = doc.find("```", from); at < to; at = doc.find("```", doc.find("```", at + 3) + 3)) {
    const std::size_t start = doc.find('\n', at) + 1;
    blocks.push_back(doc.substr(start, doc.find("```", start) - start));
  }
  return blocks;
}

TEST(Experiments, TheDocumentedDesignsRunAndAHypercubeResumesAfterAKillToTheSameBytes) {
  Subprocess modules({Python, "-c", "import numpy, pandas, scipy.stats"}, "/");
  if (modules.Wait(60) != 0) GTEST_SKIP() << "Debian's python3-numpy, -pandas and -scipy are not installed";
  TempDir dir;
  const std::vector<std::string> blocks = DocBlocks("### Latin hypercube and Sobol designs");
  ASSERT_EQ(blocks.size(), 3u);
  { std::ofstream(dir / "design.py") << blocks[0]; }
  { std::ofstream(dir / "analysis.py") << "import pandas as pd\n" << blocks[2]; }
  ASSERT_EQ(RunProgram(Python, {"design.py"}, dir.path()).status, 0);
  for (const std::string& line : Lines(blocks[1])) {
    // As written, with fewer steps and repeats.
    std::istringstream words(line.substr(line.find(' ')));
    std::vector<std::string> args;
    for (std::string word; words >> word;) {
      args.push_back(args.empty() ? word : args.back() == "--steps" ? "40" : args.back() == "--repeats" ? "1" : word);
    }
    const Outcome outcome = RunProgram(Program, args, dir.path());
    ASSERT_EQ(outcome.status, 0) << line << ": " << outcome.err;
  }
  EXPECT_EQ(nlohmann::json::parse(ReadFile(dir / "sobol-runs.json"))["request"]["sweep"]["size"], 32);
  Subprocess analysis({Python, "analysis.py"}, dir.path());
  EXPECT_EQ(analysis.Wait(60), 0) << analysis.Err();
  EXPECT_NE(analysis.Out().find("stop_step"), std::string::npos) << analysis.Out();

  std::vector<std::string> args = {Program, "--design", "lhs.csv", "--steps", "600", "--record-every", "10",
                                   "--until", "settled", "--seed", "3", "--jobs", "2", "--out", "whole.csv"};
  ASSERT_EQ(RunProgram(Program, {args.begin() + 1, args.end()}, dir.path()).status, 0);
  args.back() = "k.csv";
  Subprocess child(args, dir.path());
  ASSERT_TRUE(child.WaitUntil([&] { return ReadFile(dir / "k.csv.partial").size() > sweep::CsvHeader().size(); }, 120))
      << "no run was written; stderr: " << child.Err();
  ASSERT_FALSE(child.Exited()) << "the sweep ended before it could be killed; make it longer";
  child.Signal(SIGKILL);
  child.Wait();
  std::filesystem::remove(dir / "lhs.csv");  // the manifest holds the design
  args.push_back("--resume");
  const Outcome resumed = RunProgram(Program, {args.begin() + 1, args.end()}, dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ReadFile(dir / "k.csv"), ReadFile(dir / "whole.csv"));
}

// A design is held once, in about its file's bytes: each shard's manifest is no larger than the
// file and the rest of a manifest, and the shards' manifests alone merge, replay and resume it.
TEST(Experiments, EachShardsManifestHoldsTheDesignInAboutItsFilesBytes) {
  TempDir dir;
  std::string design = "threshold,production-costs,travel-expenses,centers,relocation\n";
  for (int k = 0; k < 2000; ++k) {
    design += std::to_string(k % 9) + "," + std::to_string(1 + k % 499) + ".125," + std::to_string(k % 7) +
              ".0625," + (k % 2 ? "on" : "off") + "," + (k % 3 ? "nearby" : "anywhere") + "\n";
  }
  { std::ofstream(dir / "d.csv", std::ios::binary) << design; }
  const std::vector<std::string> common = {"--design", "d.csv", "--grid", "10x10", "--steps", "1", "--seed", "4", "--quiet"};
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), common.begin(), common.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
  };
  run({"--out", "whole.csv"});
  run({"--shard", "0/2", "--out", "s0.csv"});
  run({"--shard", "1/2", "--out", "s1.csv"});
  // The rest of a manifest (the command, the parameters, the outputs) is a few KB.
  for (const char* manifest : {"whole.json", "s0.json", "s1.json"}) {
    EXPECT_LE(std::filesystem::file_size(dir / manifest), design.size() + 4096) << manifest;
  }
  std::filesystem::remove(dir / "d.csv");
  ASSERT_EQ(RunProgram(Program, {"merge", "merged.csv", "s0.csv", "s1.csv"}, dir.path()).status, 0);
  EXPECT_EQ(ReadFile(dir / "merged.csv"), ReadFile(dir / "whole.csv"));
  for (const char* from : {"whole", "s1"}) {
    const Outcome replay = RunProgram(Program, {"--from", std::string(from) + ".json", "--runs", "1997,1999", "--quiet",
                                                "--out", std::string(from) + "-again.csv"}, dir.path());
    ASSERT_EQ(replay.status, 0) << replay.err;
  }
  EXPECT_EQ(ReadFile(dir / "s1-again.csv"), ReadFile(dir / "whole-again.csv"));
}

// Videos of 200 steps, a frame every 10 steps, by an encoder that fails for run 1 only, in its own
// words: the sweep stops with an I/O error quoting it, the run before it whole in the partial CSV,
// and the resume makes the missing video. Each has 21 frames of the snapshots' size.
TEST(Experiments, VideosHaveAFrameEveryKStepsAndAFailedEncoderIsAnIoErrorTheResumeMends) {
  if (!std::filesystem::exists(kProbe)) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir, bin;
  std::ofstream(bin / "ffmpeg") << "#!/bin/sh\ncase \"$(readlink /proc/$$/fd/3)\" in *.run1.mp4*)\n"
                                   "  cat >/dev/null; echo 'frame 3: out of cheese' >&2; exit 1;;\nesac\n"
                                   "exec /usr/bin/ffmpeg \"$@\"\n";
  std::filesystem::permissions(bin / "ffmpeg", std::filesystem::perms::owner_all);
  std::vector<std::string> args = {"--out",  "whole.csv", "--grid", "30x20", "--steps", "200", "--record-every", "50",
                                   "--snapshot-every", "10", "--seed", "5", "--repeats", "3", "--video", "mp4",
                                   "--jobs", "1"};
  ASSERT_EQ(RunProgram(Program, args, dir.path()).status, 0);
  args[1] = "x.csv";
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin.path() + ":" + path).c_str(), 1);
  const Outcome failed = RunProgram(Program, args, dir.path());
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("x.run1.mp4: the encoder failed: frame 3: out of cheese"), std::string::npos) << failed.err;
  const std::string whole = ReadFile(dir / "whole.csv"), partial = ReadFile(dir / "x.csv.partial");
  EXPECT_EQ(Lines(partial).size(), 1u + 5);  // run 0's steps 0, 50, ..., 200 (--jobs is 1)
  EXPECT_EQ(whole.rfind(partial, 0), 0u);
  args.push_back("--resume");
  const Outcome resumed = RunProgram(Program, args, dir.path());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ReadFile(dir / "x.csv"), whole);
  const std::string png = ReadFile(dir / "x.run1.step200.png");  // its size big-endian at 16 and 20
  ASSERT_GE(png.size(), 24u);
  const auto side = [&](std::size_t at) {
    return std::to_string(std::uint8_t(png[at + 2]) << 8 | std::uint8_t(png[at + 3]));
  };
  for (const char* run : {"0", "1", "2"}) {
    EXPECT_EQ(Probe(dir.path(), "x.run" + std::string(run) + ".mp4"), side(16) + "," + side(20) + ",21") << run;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".mp4."), std::string::npos) << entry.path();
  }
}

TEST(Experiments, BadDesignsAndValuesAreRefusedNamingRowAndColumnAndWriteNothing) {
  struct Case {
    std::string design;
    std::vector<std::string> args;
    std::string named;
  };
  const std::string three = "threshold\n3\n";
  const std::vector<Case> cases = {
      {"threshold,colour\n3,1\n", {}, "line 1, column 2 'colour' is no parameter"},
      {"threshold\n3\n9\n", {}, "row 2 (line 3), column 'threshold': expects a whole number of eighths"},
      {"", {}, "d.csv: the file is empty"},
      {"threshold\r\n", {}, "d.csv: no points"},
      {"threshold,centers\n3,on\n4\n", {}, "row 2 (line 3) has 1 values; expects 2 values, one per column"},
      {"threshold,centers\n3,on\n\n4,off\n", {}, "row 2 (line 3) is empty; expects 2 values"},
      {"\"threshold\",\"colour\"\n3,1\n", {}, "line 1, column 2 'colour' is no parameter"},
      {"threshold\n2.0\n", {}, "row 1 (line 2), column 'threshold': expects a whole number of eighths"},
      {"centers,threshold,centers\n1,3,0\n", {}, "line 1, column 3 'centers' is given twice (also column 1)"},
      {",threshold\n7,3\n", {}, "line 1, column 1 has no name"},
      {"agents,density\n1,0.5\n", {}, "column 'agents' and column 'density' exclude each other"},
      {three, {"--set", "threshold=1,2"}, "column 'threshold' is also varied by --set threshold"},
      {"density\n0.5\n", {"--agents", "10"}, "column 'density' and --agents exclude each other"},
      {"agents\n10\n401\n", {"--grid", "20x20"}, "row 2 (line 3), column 'agents': run 1: 401 agents do not fit"},
      {"production-costs\n100\n9990\n", {}, "row 2 (line 3), column 'production-costs': run 1"},
      {"threshold,threshold_percent\n3,40\n", {}, "column 'threshold' and column 'threshold_percent' exclude each"},
      {"radius\n1\n5\n", {"--grid", "10x10"}, "row 2 (line 3), column 'radius': run 1: a neighbourhood of radius 5"},
      {"relocation\nnearby\nNearby\n", {}, "row 2 (line 3), column 'relocation': expects one of nearby, anywhere"},
      {"wrap\nsometimes\n", {}, "row 1 (line 2), column 'wrap': expects on or off"},
      {"search-window\n0\n", {}, "column 'search-window': expects a whole number of cells from 1 to 20"},
      {three, {"--design", "gone.csv"}, "--design: cannot read 'gone.csv'"},
      {three, {"--until", "now"}, "--until: expects steps, settled or settled:W with W quiet steps in a row"},
      {three, {"--snapshot-every", "0"}, "--snapshot-every: expects a whole number of steps"},
      {three, {"--video", "avi"}, "--video: expects off, mp4 or gif"},
      {three, {"--progress-every", "-1"}, "--progress-every: expects a whole number of seconds"},
      // Input is quoted with its control characters escaped: none reaches the terminal.
      {"threshold\r3\r", {}, "column 1 'threshold\\r3' is no parameter"},
      {three, {"--seed", "1\x1b]0;x\a"}, "--seed: expects a whole number from 0 to 18446744073709551615; got '1\\e]0;x\\a'"},
      {"threshold\n\x9b" "2\n", {}, "got '\\x9b" "2'"},
      {"threshold\n\xc2\x9b" "2\n", {}, "got '\\u009b" "2'"},
      {"centers\non\n", {"--set", "thres\x7fhold=1"}, "--set thres\\x7fhold: cannot vary"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    { std::ofstream(dir / "d.csv", std::ios::binary) << c.design; }
    std::vector<std::string> args = {"--out", "o.csv", "--steps", "5"};
    if (std::find(c.args.begin(), c.args.end(), "--design") == c.args.end()) args.insert(args.end(), {"--design", "d.csv"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome outcome = RunProgram(Program, args, dir.path());
    EXPECT_EQ(outcome.status, 2) << c.named;
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.named), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count_if(outcome.err.begin(), outcome.err.end(),
                            [](char ch) { return (std::uint8_t(ch) < 0x20 && ch != '\n') || ch == 0x7f; }),
              0)
        << outcome.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.named;
  }
}

}  // namespace
}  // namespace zelmora::testing
