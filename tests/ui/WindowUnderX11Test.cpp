// The real program in a real window system (run under xvfb-run): it starts, steps by itself, and
// two screenshots a moment apart show the grid, the chart and a changed grid. Pass a file name
// to keep the second screenshot.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "ui/Application.h"
#include "ui/MainWindow.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

QImage Screenshot(zelmora::TForm1& form) {
  return form.screen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// Differing pixels inside a rectangle of the screen.
int Changed(const QImage& a, const QImage& b, QRect area) {
  int changed = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
  }
  return changed;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // every line reaches the log, whatever happens next
  zelmora::TApplication app(argc, argv);
  Check(QGuiApplication::platformName() == "xcb", "runs in an X11 window system");
  zelmora::TForm1 form;
  form.show();
  Check(QTest::qWaitForWindowExposed(&form, 5000), "the window is shown");
  QTest::qWait(700);
  const QImage first = Screenshot(form);
  const int stepsFirst = form.lbl_Steps->text().toInt();
  QTest::qWait(700);
  const QImage second = Screenshot(form);
  const int stepsSecond = form.lbl_Steps->text().toInt();
  if (argc > 1) second.save(QString::fromLocal8Bit(argv[1]));

  Check(stepsFirst > 0, "steps run by themselves");
  Check(stepsSecond > stepsFirst, "and go on");
  const QPoint origin = form.mapToGlobal(QPoint(0, 0));
  const QRect grid(origin + QPoint(9, 10), QSize(400, 400));
  const QRect chartData(origin + QPoint(8 + 50, 424 + 20), QSize(707, 205));
  // The grid shows the catchment colours and discs, not a blank surface.
  int coloured = 0;
  for (int y = grid.top(); y <= grid.bottom(); y += 3) {
    for (int x = grid.left(); x <= grid.right(); x += 3) {
      const QColor c = second.pixelColor(x, y);
      coloured += c.saturation() > 60;
    }
  }
  Check(coloured > 2000, "the grid is painted in catchment colours");
  Check(Changed(first, second, grid) > 50, "the grid changed between the screenshots");
  int curve = 0;
  for (int y = chartData.top(); y <= chartData.bottom(); ++y) {
    for (int x = chartData.left(); x <= chartData.right(); ++x) {
      const QColor c = second.pixelColor(x, y);
      curve += (c.red() > 200 && c.green() < 60) || (c.green() > 100 && c.red() < 60);
    }
  }
  Check(curve > 50, "the chart shows the red and green curves");
  std::printf("%d passed, %d failed\n", 6 - failures, failures);
  return failures == 0 ? 0 : 1;
}
