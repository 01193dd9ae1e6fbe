// Loaded into the packaged window with LD_PRELOAD, so the program under test is the packaged one,
// unchanged. Once the application's event loop runs, it looks among the application's widgets
// for the step label (object name lbl_Steps) and ends the application with status 0 as soon as
// the label shows a step above ZELMORA_STOP_AFTER_STEP, printing that step. A window shown
// without the label ends it with status 3; a missing or malformed step, with status 2.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <QByteArray>

#include <cstdio>

namespace {

constexpr int kExitNoStep = 2;
constexpr int kExitNoLabel = 3;

QLabel* FindStepLabel() {
  for (QWidget* widget : QApplication::allWidgets()) {
    if (widget->objectName() == QLatin1String("lbl_Steps")) return qobject_cast<QLabel*>(widget);
  }
  return nullptr;
}

bool AnyWindowShown() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible()) return true;
  }
  return false;
}

void Stop(QTimer* poll, int status, const QByteArray& message) {
  poll->stop();
  std::fputs(message.constData(), stdout);
  std::fflush(stdout);
  QCoreApplication::exit(status);
}

// Looks at the label at the pace of the window's own 1 ms timer, so a step shown is seen within a
// tick or two.
void StartWatching() {
  auto* poll = new QTimer(QCoreApplication::instance());
  bool given = false;
  const long long stopAfter = qEnvironmentVariable("ZELMORA_STOP_AFTER_STEP").toLongLong(&given);
  if (!given) {
    Stop(poll, kExitNoStep, "step watch: ZELMORA_STOP_AFTER_STEP is not a step\n");
    return;
  }
  QObject::connect(poll, &QTimer::timeout, [poll, stopAfter] {
    QLabel* label = FindStepLabel();
    if (label == nullptr) {
      if (AnyWindowShown()) Stop(poll, kExitNoLabel, "step watch: no label named lbl_Steps in the window\n");
      return;
    }
    bool isStep = false;
    const long long step = label->text().toLongLong(&isStep);
    if (isStep && step > stopAfter) Stop(poll, 0, "step " + QByteArray::number(step) + "\n");
  });
  poll->start(1);
}

// Runs inside the application's constructor; the watch starts from the event loop.
void ScheduleWatch() {
  QMetaObject::invokeMethod(QCoreApplication::instance(), StartWatching, Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(ScheduleWatch)
