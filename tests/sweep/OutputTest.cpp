#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Requests.h"
#include "Subprocess.h"
#include "sweep/Output.h"
#include "sweep/Record.h"
#include "sweep/Runner.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::ReadFile;
using zelmora::testing::TempDir;

const std::string Header = "a,b\r\n";
const RunLength TwoRows{1, 1, false};  // steps 0 and 1

std::vector<RunPlan> ThreeRuns() { return {{0, 11, {}}, {2, 22, {}}, {4, 33, {}}}; }

TEST(Output, PartialScanKeepsWholeRunsOnly) {
  struct Case {
    const char* what;
    std::string text;
    std::uint64_t keep;
    std::size_t runs;
  };
  const std::string run0 = "0,11,x\r\n0,11,y\r\n";
  const std::string run2 = "2,22,x\r\n2,22,y\r\n";
  const std::vector<Case> cases = {
      {"empty", "", 0, 0},
      {"torn header", "a,b", 0, 0},
      {"another header", "a,c\r\n" + run0, 0, 0},
      {"header only", Header, Header.size(), 0},
      {"two whole runs", Header + run0 + run2, (Header + run0 + run2).size(), 2},
      {"torn last row", Header + run0 + "2,22,x\r\n2,2", (Header + run0).size(), 1},
      {"row without CR", Header + run0 + "2,22,x\n", (Header + run0).size(), 1},
      {"run short of rows", Header + run0 + "2,22,x\r\n", (Header + run0).size(), 1},
      {"row of another run", Header + "0,11,x\r\n4,33,y\r\n", Header.size(), 0},
      {"another seed", Header + "0,12,x\r\n0,12,y\r\n", Header.size(), 0},
  };
  for (const Case& c : cases) {
    TempDir dir;
    { std::ofstream(dir / "p", std::ios::binary) << c.text; }
    const PartialScan scan = ScanPartial(
        dir / "p", Header, [](std::int64_t k) { return ThreeRuns()[std::size_t(k)]; }, 3, TwoRows);
    EXPECT_EQ(scan.keepBytes, c.keep) << c.what;
    EXPECT_EQ(scan.completeRuns, std::int64_t(c.runs)) << c.what;
  }
}

TEST(Output, SpooledRunIsTakenOnlyWhole) {
  const RunPlan run{2, 22, {}};
  struct Case {
    std::string text;
    bool taken;
  };
  const std::vector<Case> cases = {{"2,22,x\r\n2,22,y\r\n", true},
                                   {"2,22,x\r\n", false},
                                   {"2,22,x\r\n2,22,y", false},
                                   {"2,22,x\r\n0,11,y\r\n", false},
                                   {"2,22,x\r\n2,22,y\r\n2,22,z\r\n", false}};
  for (const Case& c : cases) {
    TempDir dir;
    { std::ofstream(dir / "s", std::ios::binary) << c.text; }
    EXPECT_EQ(SpooledRunIsWhole(dir / "s", run, TwoRows), c.taken) << c.text;
  }
}

TEST(Output, FailedWriteCutsTheFileBackToItsLastWholeRun) {
  TempDir dir;
  int calls = 0;
  // The second append gets half of its bytes to disk, then the disk is full.
  const auto write = [&calls](int fd, const char* data, std::size_t size, std::int64_t offset) -> long {
    if (++calls == 3) return long(::pwrite(fd, data, size / 2, offset));
    if (calls == 4) {
      errno = ENOSPC;
      return -1;
    }
    return long(::pwrite(fd, data, size, offset));
  };
  PartialFile file(dir / "p", Header, std::nullopt, write);
  file.Append("0,11,x\r\n");
  try {
    file.Append("2,22,x\r\n2,22,y\r\n");
    FAIL() << "the write error was not reported";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "p"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(dir / "p"), Header + "0,11,x\r\n");
  file.Append("2,22,x\r\n");  // the file goes on from its last whole run
  EXPECT_EQ(ReadFile(dir / "p"), Header + "0,11,x\r\n2,22,x\r\n");
}

// What stands at the output decides how a sweep starts, before anything is written; what the
// program itself does not make at its lock's name, a link among them, is named, not written through.
TEST(Output, OutputStateIsCheckedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    std::vector<std::string> present;  // files made before the check
    bool resume, force;
    const char* error;  // field named, or nullptr
    OutputState start;
  };
  const std::vector<Case> cases = {
      {"nothing there", {}, false, false, nullptr, OutputState::Nothing},
      {"csv there", {"o.csv"}, false, false, "out", OutputState::Nothing},
      {"partial there", {"o.csv.partial"}, false, false, "out", OutputState::Nothing},
      {"manifest there", {"o.json"}, false, false, "out", OutputState::Nothing},
      {"forced", {"o.csv", "o.json"}, false, true, nullptr, OutputState::Nothing},
      {"resume, nothing written", {"o.json"}, true, false, nullptr, OutputState::Nothing},
      {"resume without manifest", {"o.csv.partial"}, true, false, "resume", OutputState::Nothing},
      {"a folder at the lock", {"o.csv.lock/x"}, false, false, "out", OutputState::Nothing},
      {"a link at the lock", {"o.csv.lock->target"}, false, false, "out", OutputState::Nothing},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const std::string& name : c.present) {
      const std::size_t arrow = name.find("->"), slash = name.find('/');
      if (arrow != std::string::npos) {
        std::filesystem::create_symlink(dir / name.substr(arrow + 2), dir / name.substr(0, arrow));
      } else if (slash != std::string::npos) {
        std::filesystem::create_directories(dir / name);
      } else {
        std::ofstream(dir / name) << "x";
      }
    }
    Request request = zelmora::testing::Small(dir / "o.csv");
    request.resume = c.resume;
    request.force = c.force;
    if (c.error) {
      try {
        PrepareSweep(request);
        ADD_FAILURE() << c.what << ": accepted";
      } catch (const RequestError& e) {
        EXPECT_EQ(e.name, c.error) << c.what << ": " << e.what();
      }
      EXPECT_FALSE(std::filesystem::exists(dir / "target")) << c.what;
    } else {
      EXPECT_EQ(PrepareSweep(request).start, c.start) << c.what;
    }
  }
  TempDir dir;
  { std::ofstream(dir / "file") << "x"; }
  EXPECT_THROW(PrepareSweep(zelmora::testing::Small(dir / "file/o.csv")), RequestError);
}

}  // namespace
}  // namespace zelmora::sweep
