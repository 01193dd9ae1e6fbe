#pragma once

#include <QApplication>
#include <QString>

#include <functional>
#include <memory>

class QMessageBox;

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

  // Shows an error as the handler does. Tests replace the modal box with their own presenter;
  // an empty one brings the box back.
  static void ShowError(const QString& message);
  static void SetErrorPresenter(ErrorPresenter presenter);
};

// The box the handler shows, not yet shown. The message may hold whatever the user typed, so it
// is plain text, never markup, and shortened so the box fits on the screen (see BoxText).
std::unique_ptr<QMessageBox> CreateErrorBox(QWidget* parent, const QString& title,
                                            const QString& message);

// The message as the box shows it: a run of more than kMaxRun characters without a blank, which
// no line break could split, keeps its two ends around an ellipsis; so does a message of more
// than kMaxLength characters as a whole.
QString BoxText(const QString& message);
inline constexpr int kMaxRun = 48;
inline constexpr int kMaxLength = 480;

}  // namespace zelmora
