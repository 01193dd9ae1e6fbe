#include <QApplication>

#include <gtest/gtest.h>

// The chart is a widget: every test runs inside one application object,
// off-screen unless the caller chose a platform.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
