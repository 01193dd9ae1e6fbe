// Runs the real window check under a virtual X server, without and with a window manager. Each
// run gets its own process group, so an overdue one is ended whole: X server, window manager and
// window alike.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <csignal>
#include <ostream>
#include <unistd.h>

namespace {

struct Case {
  const char* name;
  const char* windowManager;  // empty: none
};

// Names the case in the test's name, which must not change from run to run.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RealWindow : public ::testing::TestWithParam<Case> {};

TEST_P(RealWindow, StandsAtTheScreensCornerAndRuns) {
  const Case& c = GetParam();
  const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
  if (xvfbRun.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";
  QStringList checkArgs;
  if (*c.windowManager) {
    const QString manager = QStandardPaths::findExecutable(c.windowManager);
    if (manager.isEmpty()) GTEST_SKIP() << c.windowManager << " is not installed";
    checkArgs << "--window-manager" << manager;
  }

  QProcess run;
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.setChildProcessModifier([] { ::setpgid(0, 0); });
  // xvfb-run keeps its authority file under $TMPDIR, which must exist and hold no blank.
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("TMPDIR", "/tmp");
  run.setProcessEnvironment(environment);
  run.start(xvfbRun, QStringList{"-a", "-s", "-screen 0 1024x768x24", "env", "-u", "QT_QPA_PLATFORM",
                                 "QT_QPA_PLATFORM=xcb", ZELMORA_WINDOW_CHECK}
                         + checkArgs);
  ASSERT_TRUE(run.waitForStarted(30000));
  const bool finished = run.waitForFinished(240000);
  if (!finished) {
    ::kill(-static_cast<pid_t>(run.processId()), SIGKILL);
    run.waitForFinished(30000);
  }
  const QString output = QString::fromLocal8Bit(run.readAll());
  ASSERT_TRUE(finished) << "overdue, ended\n" << output.toStdString();
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains(" passed, 0 failed")) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Under, RealWindow,
                         ::testing::Values(Case{"Xvfb", ""}, Case{"Openbox", "openbox"}),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
