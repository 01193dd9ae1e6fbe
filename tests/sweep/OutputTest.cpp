#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "sweep/Output.h"
#include "sweep/Record.h"
#include "sweep/Runner.h"
#include "simulation/World.h"

namespace zelmora::batch {
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
    const PartialScan scan = ScanPartial(dir / "p", Header, ThreeRuns(), TwoRows);
    EXPECT_EQ(scan.keepBytes, c.keep) << c.what;
    EXPECT_EQ(scan.completeRuns, c.runs) << c.what;
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

TEST(Output, OutputStateIsCheckedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    std::vector<std::string> present;  // files made before the check
    bool resume, force;
    const char* error;  // option named, or nullptr
    StartKind start;
  };
  const std::vector<Case> cases = {
      {"nothing there", {}, false, false, nullptr, StartKind::Fresh},
      {"csv there", {"o.csv"}, false, false, "--out", StartKind::Fresh},
      {"partial there", {"o.csv.partial"}, false, false, "--out", StartKind::Fresh},
      {"manifest there", {"o.json"}, false, false, "--out", StartKind::Fresh},
      {"forced", {"o.csv", "o.json"}, false, true, nullptr, StartKind::Fresh},
      {"resume, nothing written", {"o.json"}, true, false, nullptr, StartKind::Fresh},
      {"resume without manifest", {"o.csv.partial"}, true, false, "--resume", StartKind::Fresh},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const std::string& name : c.present) std::ofstream(dir / name) << "x";
    Options options;
    options.out = dir / "o.csv";
    options.resume = c.resume;
    options.force = c.force;
    if (c.error) {
      try {
        CheckOutputs(options, OutputPaths(options.out));
        ADD_FAILURE() << c.what << ": accepted";
      } catch (const UsageError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << c.what << ": " << e.what();
      }
    } else {
      EXPECT_EQ(CheckOutputs(options, OutputPaths(options.out)).kind, c.start) << c.what;
    }
  }
  TempDir dir;
  { std::ofstream(dir / "file") << "x"; }
  Options inFile;
  inFile.out = dir / "file/o.csv";
  EXPECT_THROW(CheckOutputs(inFile, OutputPaths(inFile.out)), UsageError);
}

}  // namespace
}  // namespace zelmora::batch
