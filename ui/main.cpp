#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <unistd.h>

#include "ui/Application.h"
#include "ui/MainWindow.h"

namespace {

constexpr const char* kNoDisplay =
    "zelmora: the window needs a display, and none was found (%s); zelmora-batch runs the model "
    "without one\n";

// Where Qt would open the window: a platform given to it, or a display of X or Wayland.
const char* MissingDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return nullptr;
  }
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return nullptr;
  }
  return "DISPLAY is not set";
}

// A display that is named but cannot be opened makes Qt give up with a fatal message while the
// application starts; that is the same missing display, said once and with status 1, not an abort.
// Qt's own words on the way there (a plugin it "could not load") would mislead, so they are held
// while the application starts and shown only if it starts.
bool starting = false;
QtMessageHandler qtHandler = nullptr;
QList<std::pair<QtMsgType, QString>> held;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (starting && type == QtFatalMsg) {
    std::fprintf(stderr, kNoDisplay, "the display named could not be opened");
    std::fflush(stderr);
    _exit(1);
  }
  if (starting) {
    held.append({type, message});
  } else if (qtHandler != nullptr) {
    qtHandler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* missing = MissingDisplay(argc, argv)) {
    std::fprintf(stderr, kNoDisplay, missing);
    return 1;
  }
  qtHandler = qInstallMessageHandler(OnQtMessage);
  starting = true;
  zelmora::TApplication app(argc, argv);
  starting = false;
  for (const auto& [type, message] : held) OnQtMessage(type, QMessageLogContext(), message);
  held.clear();
  zelmora::TForm1 form;
  form.show();
  return app.exec();
}
