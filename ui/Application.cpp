#include "ui/Application.h"

#include <QMessageBox>

#include <exception>

namespace zelmora {
namespace {

constexpr QChar kEllipsis(0x2026);

void ShowErrorBox(const QString& title, const QString& message) {
  CreateErrorBox(QApplication::activeWindow(), title, message)->exec();
}

TApplication::ErrorPresenter& Presenter() {
  static TApplication::ErrorPresenter presenter = ShowErrorBox;
  return presenter;
}

// Keeps the first and last characters of a text around an ellipsis, at most `limit` in all.
QString ShortenMiddle(const QString& text, int limit) {
  if (text.size() <= limit) return text;
  qsizetype head = (limit - 1) / 2;
  qsizetype tail = limit - 1 - head;
  // Never half a surrogate pair.
  if (text[head - 1].isHighSurrogate()) --head;
  if (text[text.size() - tail].isLowSurrogate()) --tail;
  return text.left(head) + kEllipsis + text.right(tail);
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

void TApplication::SetErrorPresenter(ErrorPresenter presenter) {
  Presenter() = presenter ? std::move(presenter) : ErrorPresenter(ShowErrorBox);
}

QString BoxText(const QString& message) {
  QString out;
  out.reserve(message.size());
  qsizetype start = 0;
  while (start < message.size()) {
    qsizetype end = start;
    const bool blank = message[start].isSpace();
    while (end < message.size() && message[end].isSpace() == blank) ++end;
    const QString run = message.mid(start, end - start);
    out += blank ? run : ShortenMiddle(run, kMaxRun);
    start = end;
  }
  return ShortenMiddle(out, kMaxLength);
}

std::unique_ptr<QMessageBox> CreateErrorBox(QWidget* parent, const QString& title,
                                            const QString& message) {
  // Plain text is chosen before the text is set: as markup it would already be laid out, and an
  // image tag loaded.
  auto box = std::make_unique<QMessageBox>(parent);
  box->setIcon(QMessageBox::Critical);
  box->setWindowTitle(title);
  box->setStandardButtons(QMessageBox::Ok);
  box->setTextFormat(Qt::PlainText);
  box->setText(BoxText(message));
  return box;
}

}  // namespace zelmora
