#include <gtest/gtest.h>

#include "ui/Application.h"

// The window needs the application object for the whole run.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  zelmora::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
