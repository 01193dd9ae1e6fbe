// Worlds on several threads at once. Built with ThreadSanitizer by `make test-thread`, which then
// reports any state of simulation/ that two Worlds share without synchronisation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Requests.h"
#include "Subprocess.h"
#include "sweep/Runner.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::ReadFile;
using zelmora::testing::TempDir;

// The agents' places and colours after some steps, as one string.
std::string Stepped(World& world, int steps) {
  for (int k = 0; k < steps; ++k) world.SimulationStep();
  std::string state;
  for (const TAgent& agent : world.Agents) {
    state += std::to_string(agent.col) + ":" + std::to_string(agent.row) + ":" + std::to_string(agent.colour) + " ";
  }
  return state;
}

TEST(Threads, WorldsSteppingTogetherMatchWorldsSteppingAlone) {
  constexpr int Worlds = 4;
  const auto run = [](int k, bool clockSeeded) {
    ModelSettings settings;
    settings.agentCount = "200";
    World world(settings);
    // Half the Worlds draw their seeds from the clock, as the window does.
    if (!clockSeeded) world.SetSeedSource(SeedStream(std::uint64_t(k)));
    world.SizeGrid(200, 200);
    world.CreateGrid();
    world.CreateAgents();
    return Stepped(world, 30);
  };
  std::vector<std::string> alone, together(Worlds);
  for (int k = 0; k < Worlds; ++k) alone.push_back(run(k, false));
  std::vector<std::thread> threads;
  for (int k = 0; k < Worlds; ++k) {
    threads.emplace_back([&, k] {
      run(k, true);
      together[std::size_t(k)] = run(k, false);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(together, alone);
}

TEST(Threads, SweepOnTwoJobsGivesTheBytesOfOne) {
  TempDir dir;
  std::atomic<int> noSignal{0};
  std::string csv[2];
  for (int jobs = 1; jobs <= 2; ++jobs) {
    Request o = zelmora::testing::Small(dir / ("j" + std::to_string(jobs) + ".csv"), 20, 200, 20, 4, 6, 5);
    o.jobs = jobs;
    std::ostringstream err;
    ASSERT_EQ(ExecuteSweep(PrepareSweep(o), nullptr, err, noSignal), 0) << err.str();
    csv[jobs - 1] = ReadFile(o.out);
  }
  EXPECT_FALSE(csv[0].empty());
  EXPECT_EQ(csv[0], csv[1]);
}

// Charts that fail for one run while the other workers are still running: the writing thread
// unwinds with an I/O error while workers read the sweep's state. Under ASan and TSan this must
// show no use of freed memory and no race, however the threads interleave.
class FailingChart : public PictureMaker {
 public:
  void SaveSnapshot(const World&, const std::string&) override {}
  void SaveCharts(const RunCharts&, const std::string& path, const std::string&) override {
    if (path.find(".run1.") != std::string::npos) throw IoError(path, "a folder is in the way");
  }
};

TEST(Threads, AnIoErrorWhileWorkersRunStopsThemBeforeTheirStateGoes) {
  TempDir dir;
  std::atomic<int> noSignal{0};
  FailingChart failing;
  for (int attempt = 0; attempt < 30; ++attempt) {
    Request o = zelmora::testing::Small(dir / "e.csv", 10, 50, 40, 1, 12, std::uint64_t(attempt));
    o.jobs = 2;
    o.pictures.charts = true;
    o.force = true;
    std::ostringstream err;
    ASSERT_EQ(ExecuteSweep(PrepareSweep(o), &failing, err, noSignal), ExitIoError) << err.str();
    ASSERT_NE(err.str().find("e.run1.chart.png"), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace zelmora::sweep
