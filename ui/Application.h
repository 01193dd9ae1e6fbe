#pragma once

#include <QApplication>
#include <QString>

#include <functional>

namespace zelmora {

// The application object with the general error handler: an error that escapes an event handler
// is shown in a modal box titled with the application's title, its message followed by a full
// stop, and the program goes on.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  using ErrorPresenter = std::function<void(const QString& title, const QString& message)>;

  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows an error as the handler does. Tests replace the modal box with their own presenter.
  static void ShowError(const QString& message);
  static void SetErrorPresenter(ErrorPresenter presenter);
};

}  // namespace zelmora
