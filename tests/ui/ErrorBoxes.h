#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <utility>
#include <vector>

#include "ui/Application.h"

namespace zelmora::testing {

// Error boxes are recorded instead of shown, so no test waits on a modal dialog; outside such a
// scope an error box is a test failure.
struct ErrorBoxes {
  std::vector<std::pair<QString, QString>> shown;
  ErrorBoxes() {
    TApplication::SetErrorPresenter(
        [this](const QString& title, const QString& message) { shown.push_back({title, message}); });
  }
  ~ErrorBoxes() {
    TApplication::SetErrorPresenter([](const QString&, const QString& message) {
      ADD_FAILURE() << "unexpected error box: " << message.toStdString();
    });
  }
};

}  // namespace zelmora::testing
