#include <gtest/gtest.h>

#include <QLocale>

#include "ui/Application.h"

// The widgets need the application object, with its error handler, for the whole run.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  zelmora::TApplication app(argc, argv);
  // The labels are written in the user's locale: the tests fix it (and set others where they
  // check them), so the user's own does not decide what they expect.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  return RUN_ALL_TESTS();
}
