// The real program in a real window system (run under xvfb-run by WindowUnderX11Driver): it
// starts, steps by itself, shows the grid and the chart, and its outer bounds, frame included,
// stand at (0, 0) and measure 800 x 724. With "--window-manager NAME" the window manager is started
// first and the window's frame, caption and all, must be on the screen. Every wait is for a
// condition, with a generous deadline. "--screenshot FILE" keeps the last screenshot.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <functional>

#include "ui/Application.h"
#include "ui/MainWindow.h"

namespace {

constexpr int kDeadlineMs = 60000;

int passed = 0;
int failures = 0;

bool Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  ++(ok ? passed : failures);
  return ok;
}

bool WaitFor(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, kDeadlineMs);
}

QImage Screenshot(QWidget& widget) {
  return widget.screen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// Differing pixels inside a rectangle of the screen.
int Changed(const QImage& a, const QImage& b, QRect area) {
  int changed = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
  }
  return changed;
}

bool Framed(const QWidget& w) { return w.frameGeometry() != w.geometry(); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // every line reaches the log, whatever happens next
  zelmora::TApplication app(argc, argv);
  QString windowManager;
  QString screenshotFile;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--window-manager") == 0) windowManager = QString::fromLocal8Bit(argv[i + 1]);
    if (std::strcmp(argv[i], "--screenshot") == 0) screenshotFile = QString::fromLocal8Bit(argv[i + 1]);
  }
  Check(QGuiApplication::platformName() == "xcb", "runs in an X11 window system");

  QProcess manager;
  if (!windowManager.isEmpty()) {
    manager.start(windowManager, {});
    Check(manager.waitForStarted(kDeadlineMs), "the window manager starts");
    // A window manager is at work once it frames a window.
    QWidget probe;
    probe.resize(100, 50);
    probe.move(300, 300);
    probe.show();
    Check(WaitFor([&] { return Framed(probe); }), "the window manager frames a window");
  }

  zelmora::TForm1 form;
  form.show();
  Check(QTest::qWaitForWindowExposed(&form, kDeadlineMs), "the window is shown");
  const QRect outer(0, 0, 800, 724);
  if (windowManager.isEmpty()) {
    Check(form.frameGeometry() == outer && !Framed(form), "unframed, the window is 800 x 724 at (0, 0)");
  } else {
    const bool settled = WaitFor([&] { return Framed(form) && form.frameGeometry() == outer; });
    std::printf("frame %d,%d %dx%d, client %d,%d %dx%d\n", form.frameGeometry().x(),
                form.frameGeometry().y(), form.frameGeometry().width(), form.frameGeometry().height(),
                form.geometry().x(), form.geometry().y(), form.width(), form.height());
    Check(settled, "the frame stands at (0, 0) and measures 800 x 724");
    // The caption bar lies between the frame's top and the client area, on the screen, and the
    // window manager has drawn it: it differs from the screen beside the window.
    const int captionHeight = form.geometry().top();
    Check(captionHeight > 0, "the frame has a caption bar above the client area");
    const QImage screen = Screenshot(form);
    int drawn = 0;
    for (int y = 0; y < captionHeight; ++y) {
      for (int x = 0; x < 800; ++x) drawn += screen.pixel(x, y) != screen.pixel(900, y);
    }
    Check(drawn > 800 * captionHeight / 2, "the caption bar is drawn on the screen");
  }

  Check(WaitFor([&] { return form.GetWorld().StepCount >= 20; }), "steps run by themselves");
  const QPoint origin = form.mapToGlobal(QPoint(0, 0));
  const QRect grid(origin + QPoint(9, 10), QSize(400, 400));
  const QRect chartData(origin + QPoint(8 + 50, 424 + 20), QSize(707, 205));
  const QImage first = Screenshot(form);
  const int stepsFirst = form.GetWorld().StepCount;
  Check(WaitFor([&] {
          return form.GetWorld().StepCount > stepsFirst + 20 && Changed(first, Screenshot(form), grid) > 50;
        }),
        "steps go on and the grid on the screen changes");
  Check(form.lbl_Steps->text().toInt() > stepsFirst, "the step counter shows them");

  // The grid shows the catchment colours and discs, not a blank surface.
  const QImage second = Screenshot(form);
  int coloured = 0;
  for (int y = grid.top(); y <= grid.bottom(); y += 3) {
    for (int x = grid.left(); x <= grid.right(); x += 3) coloured += second.pixelColor(x, y).saturation() > 60;
  }
  Check(coloured > 2000, "the grid is painted in catchment colours");
  auto curvePixels = [&] {
    const QImage shot = Screenshot(form);
    int curve = 0;
    for (int y = chartData.top(); y <= chartData.bottom(); ++y) {
      for (int x = chartData.left(); x <= chartData.right(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        curve += (c.red() > 200 && c.green() < 60) || (c.green() > 100 && c.red() < 60);
      }
    }
    return curve;
  };
  Check(WaitFor([&] { return curvePixels() > 50; }), "the chart shows the red and green curves");
  if (!screenshotFile.isEmpty()) Screenshot(form).save(screenshotFile);

  form.close();
  if (manager.state() != QProcess::NotRunning) {
    manager.terminate();
    if (!manager.waitForFinished(10000)) manager.kill();
    manager.waitForFinished(10000);
  }
  std::printf("%d passed, %d failed\n", passed, failures);
  return failures == 0 ? 0 : 1;
}
