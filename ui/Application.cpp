#include "ui/Application.h"

#include <QMessageBox>

#include <exception>

namespace zelmora {
namespace {

TApplication::ErrorPresenter& Presenter() {
  static TApplication::ErrorPresenter presenter = [](const QString& title, const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), title, message);
  };
  return presenter;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Zelmora");
  setApplicationDisplayName("Zelmora");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowError(QString::fromStdString(e.what()));
  }
  return true;  // the event was handled, though by the error box
}

void TApplication::ShowError(const QString& message) {
  QString text = message;
  if (!text.endsWith('.')) text += '.';
  Presenter()(QApplication::applicationDisplayName(), text);
}

void TApplication::SetErrorPresenter(ErrorPresenter presenter) { Presenter() = std::move(presenter); }

}  // namespace zelmora
