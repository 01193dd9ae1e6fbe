// The build's id: the same for the same sources whatever their form (a git work tree, a copy
// without git in another folder, as a package's build has), another for other sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Subprocess.h"

namespace zelmora::testing {
namespace {

// The id cmake/BuildId.cmake writes for the sources in `source`.
std::string IdOf(const std::string& source, const TempDir& dir) {
  const Outcome outcome = RunProgram(ZELMORA_CMAKE, {"-DOUT=" + (dir / "id.cpp"), "-DSOURCE=" + source, "-DVERSION=0.1",
                                                     "-P", ZELMORA_SOURCE_DIR "/cmake/BuildId.cmake"},
                                     dir.path());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  const std::string text = ReadFile(dir / "id.cpp");
  const std::size_t at = text.find("BuildId() { return \"");
  return at == std::string::npos ? "" : text.substr(at + 20, text.find('"', at + 20) - at - 20);
}

TEST(BuildId, TheSameSourcesGiveTheSameIdWithOrWithoutGit) {
  TempDir dir, copy;
  namespace fs = std::filesystem;
  for (const char* part : {"simulation", "sweep"}) {
    fs::copy(std::string(ZELMORA_SOURCE_DIR) + "/" + part, copy / part, fs::copy_options::recursive);
  }
  fs::copy_file(ZELMORA_SOURCE_DIR "/CMakeLists.txt", copy / "CMakeLists.txt");
  const std::string tree = IdOf(ZELMORA_SOURCE_DIR, dir);
  EXPECT_EQ(tree.rfind("0.1+src-", 0), 0u) << tree;
  EXPECT_EQ(IdOf(copy.path(), dir), tree);
  // Sources that decide results are the id; others are not.
  fs::create_directories(copy / "ui");
  { std::ofstream(copy / "ui/MainWindow.cpp") << "// the window\n"; }
  EXPECT_EQ(IdOf(copy.path(), dir), tree);
  { std::ofstream(copy / "sweep/Record.cpp", std::ios::app) << "\n"; }
  EXPECT_NE(IdOf(copy.path(), dir), tree);
}

}  // namespace
}  // namespace zelmora::testing
