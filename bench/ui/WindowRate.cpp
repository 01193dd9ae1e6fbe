// Does the real window keep up with its timer? Counts the ticks per second of a bare 1 ms timer,
// then the steps per second of the window running by itself, each over the same span, in one
// run of the same event loop. Run it under a window system (xvfb-run).
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "ui/Application.h"
#include "ui/MainWindow.h"

namespace {

double BareTimerRate(zelmora::TApplication& app, int millis) {
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(1);
  long ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&ticks]() { ++ticks; });
  QElapsedTimer clock;
  QTimer::singleShot(millis, &app, &QCoreApplication::quit);
  clock.start();
  timer.start();
  app.exec();
  return ticks * 1000.0 / clock.elapsed();
}

double WindowStepRate(zelmora::TApplication& app, int millis) {
  zelmora::TForm1 form;
  form.show();
  // Let the window appear and settle before counting.
  QTimer::singleShot(500, &app, &QCoreApplication::quit);
  app.exec();
  const int before = form.GetWorld().StepCount;
  QElapsedTimer clock;
  QTimer::singleShot(millis, &app, &QCoreApplication::quit);
  clock.start();
  app.exec();
  return (form.GetWorld().StepCount - before) * 1000.0 / clock.elapsed();
}

}  // namespace

int main(int argc, char** argv) {
  zelmora::TApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const double bare = BareTimerRate(app, seconds * 1000);
  const double window = WindowStepRate(app, seconds * 1000);
  std::printf("platform %s, %d s each\n", qPrintable(QGuiApplication::platformName()), seconds);
  std::printf("bare 1 ms timer: %.0f ticks/s\n", bare);
  std::printf("window:          %.0f steps/s (%.1f %% of the bare timer)\n", window,
              100.0 * window / bare);
  return 0;
}
